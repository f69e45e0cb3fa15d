#include "app/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

extern char** environ;

namespace zqt {

namespace {

class Pipe {
  public:
    Pipe() {
        if (pipe2(fds_.data(), O_CLOEXEC) != 0) {
            fds_ = {-1, -1};
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool ok() const { return fds_[0] >= 0; }
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }

  private:
    static void Close(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    std::array<int, 2> fds_{};
};

// Spawn attributes that give the child a clean signal state: this process may
// ignore SIGPIPE or block signals in the calling thread.
class CleanSignals {
  public:
    CleanSignals() {
        posix_spawnattr_init(&attr_);
        sigset_t empty;
        sigset_t all;
        sigemptyset(&empty);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr_, &empty);
        posix_spawnattr_setsigdefault(&attr_, &all);
        posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~CleanSignals() { posix_spawnattr_destroy(&attr_); }
    CleanSignals(const CleanSignals&) = delete;
    CleanSignals& operator=(const CleanSignals&) = delete;
    const posix_spawnattr_t* get() const { return &attr_; }

  private:
    posix_spawnattr_t attr_;
};

class FileActions {
  public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_;
};

// Reads both pipes to their ends, whichever the child fills first, so that a
// full one never stalls it.
void Drain(Pipe& outPipe, Pipe& errPipe, ChildResult& result) {
    std::array<pollfd, 2> fds = {{{outPipe.readEnd(), POLLIN, 0}, {errPipe.readEnd(), POLLIN, 0}}};
    std::array<std::string*, 2> sinks = {&result.out, &result.err};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args) {
    ChildResult result;
    Pipe outPipe;
    Pipe errPipe;
    if (!outPipe.ok() || !errPipe.ok()) {
        result.spawnError = errno != 0 ? errno : EMFILE;
        return result;
    }
    FileActions actions;
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), outPipe.writeEnd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), errPipe.writeEnd(), STDERR_FILENO);
    CleanSignals attributes;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
    outPipe.CloseWrite();
    errPipe.CloseWrite();
    if (spawned != 0) {
        result.spawnError = spawned;
        return result;
    }
    Drain(outPipe, errPipe, result);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return result;
        }
    }
    if (WIFEXITED(status)) {
        result.exitStatus = WEXITSTATUS(status);
    }
    return result;
}

std::optional<std::string> FindProgram(const std::string& name, const std::string& searchPath) {
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos) {
            end = searchPath.size();
        }
        const std::string directory = searchPath.substr(start, end - start);
        // A relative entry would make the result depend on the working folder.
        if (!directory.empty() && directory.front() == '/') {
            std::string candidate = directory + "/" + name;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace zqt
