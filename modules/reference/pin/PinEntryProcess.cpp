#include "pin/PinEntryProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>

namespace ref::pinentry {

namespace {

constexpr std::array<std::string_view, 11> kPassedNames = {"DISPLAY",
                                                           "WAYLAND_DISPLAY",
                                                           "DBUS_SESSION_BUS_ADDRESS",
                                                           "XAUTHORITY",
                                                           "XDG_RUNTIME_DIR",
                                                           "XDG_SESSION_TYPE",
                                                           "HOME",
                                                           "PATH",
                                                           "TERM",
                                                           "LANG",
                                                           "LANGUAGE"};

// The signals the host may block or ignore that pinentry needs at their default.
constexpr std::array<int, 5> kDefaultSignals = {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD};

std::string ErrnoText(int error) {
    char buffer[128];
    // GNU strerror_r: thread-safe, returns the text (maybe not in buffer).
    return strerror_r(error, buffer, sizeof buffer);
}

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);  // never retried: on Linux the descriptor is gone even on EINTR
        fd = -1;
    }
}

// Moves a descriptor above the standard three (the service may have closed
// its own stdin), so that the child's dup2 onto 0/1/2 cannot clobber it or
// be a no-op that leaves FD_CLOEXEC set.
bool AboveStdio(int& fd) {
    if (fd > 2) {
        return true;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    fd = moved;
    return moved >= 0;
}

bool SetNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    // Always close-on-exec. Fails (ENOSYS) before Linux 5.3: then we poll waitpid.
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

// RAII for the spawn attributes and file actions.
struct SpawnSetup {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    bool haveAttr = false;
    bool haveActions = false;
    ~SpawnSetup() {
        if (haveActions) {
            posix_spawn_file_actions_destroy(&actions);
        }
        if (haveAttr) {
            posix_spawnattr_destroy(&attr);
        }
    }
};

}  // namespace

bool IsPassedVariable(std::string_view name) {
    if (name.size() > 3 && name.substr(0, 3) == "LC_") {
        return true;
    }
    return std::find(kPassedNames.begin(), kPassedNames.end(), name) != kPassedNames.end();
}

std::vector<std::string> PassedEnvironment(char* const* envp) {
    std::vector<std::string> passed;
    if (envp == nullptr) {
        return passed;
    }
    for (char* const* entry = envp; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals != std::string_view::npos && IsPassedVariable(text.substr(0, equals))) {
            passed.emplace_back(text);
        }
    }
    return passed;
}

PinEntryProcess::~PinEntryProcess() {
    CloseAll();
    if (running_) {
        Kill();
    }
    CloseFd(pidfd_);
}

void PinEntryProcess::CloseAll() {
    CloseFd(toChild_);
    CloseFd(fromChild_);
}

bool PinEntryProcess::Start(const std::string& program, const std::vector<std::string>& environment,
                            std::string& error) {
    int toPipe[2] = {-1, -1};    // [0] its stdin, [1] ours
    int fromPipe[2] = {-1, -1};  // [0] ours, [1] its stdout
    auto closeAll = [&] {
        for (int* fd : {&toPipe[0], &toPipe[1], &fromPipe[0], &fromPipe[1]}) {
            CloseFd(*fd);
        }
    };
    if (::pipe2(toPipe, O_CLOEXEC) != 0 || ::pipe2(fromPipe, O_CLOEXEC) != 0) {
        error = "cannot make a pipe: " + ErrnoText(errno);
        closeAll();
        return false;
    }
    for (int* fd : {&toPipe[0], &toPipe[1], &fromPipe[0], &fromPipe[1]}) {
        if (!AboveStdio(*fd)) {
            error = "cannot move a pipe: " + ErrnoText(errno);
            closeAll();
            return false;
        }
    }
    if (!SetNonBlocking(toPipe[1]) || !SetNonBlocking(fromPipe[0])) {
        error = "cannot set up a pipe: " + ErrnoText(errno);
        closeAll();
        return false;
    }

    SpawnSetup setup;
    int rc = posix_spawnattr_init(&setup.attr);
    setup.haveAttr = rc == 0;
    if (rc == 0) {
        rc = posix_spawn_file_actions_init(&setup.actions);
        setup.haveActions = rc == 0;
    }
    if (rc == 0) {
        // The calling thread may block signals and the host ignores SIGPIPE:
        // a child inheriting either would not stop on systemd's SIGTERM.
        sigset_t empty;
        sigemptyset(&empty);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : kDefaultSignals) {
            sigaddset(&defaults, signal);
        }
        rc = posix_spawnattr_setsigmask(&setup.attr, &empty);
        if (rc == 0) {
            rc = posix_spawnattr_setsigdefault(&setup.attr, &defaults);
        }
        if (rc == 0) {
            rc = posix_spawnattr_setflags(&setup.attr,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        }
    }
    if (rc == 0) {
        rc = posix_spawn_file_actions_adddup2(&setup.actions, toPipe[0], STDIN_FILENO);
    }
    if (rc == 0) {
        rc = posix_spawn_file_actions_adddup2(&setup.actions, fromPipe[1], STDOUT_FILENO);
    }
    if (rc == 0) {
        rc = posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, "/dev/null", O_WRONLY,
                                              0);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Our pipes are close-on-exec anyway; this also keeps out whatever another
    // thread of the host opened without O_CLOEXEC.
    if (rc == 0) {
        rc = posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
    }
#endif
    if (rc != 0) {
        error = "cannot prepare to start pinentry: " + ErrnoText(rc);
        closeAll();
        return false;
    }

    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const std::string& entry : environment) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

    pid_t pid = -1;
    rc = ::posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv, envp.data());
    CloseFd(toPipe[0]);
    CloseFd(fromPipe[1]);
    if (rc != 0) {
        switch (rc) {
            case ENOENT:
                error = "program not found";
                break;
            case EACCES:
                error = "program not executable";
                break;
            case ENOEXEC:
                error = "program not in an executable format";
                break;
            default:
                error = "cannot start the program: " + ErrnoText(rc);
                break;
        }
        closeAll();
        return false;
    }
    pid_ = pid;
    running_ = true;
    haveStatus_ = false;
    pidfd_ = OpenPidfd(pid);
    toChild_ = toPipe[1];
    fromChild_ = fromPipe[0];
    return true;
}

void PinEntryProcess::CloseInput() {
    CloseFd(toChild_);
}

bool PinEntryProcess::TryReap() {
    if (!running_) {
        return true;
    }
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(pid_, &status, WNOHANG);
        if (got == pid_) {
            status_ = status;
            haveStatus_ = true;
            running_ = false;
            return true;
        }
        if (got == 0) {
            return false;
        }
        if (errno == EINTR) {
            continue;
        }
        // ECHILD: reaped by someone else (SIGCHLD ignored, or a handler
        // waiting for any child). It is gone; its status is unknown.
        running_ = false;
        return true;
    }
}

bool PinEntryProcess::WaitUntil(Clock::time_point until) {
    for (;;) {
        if (TryReap()) {
            return true;
        }
        const auto now = Clock::now();
        if (now >= until) {
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        if (pidfd_ >= 0) {
            // Readable once the child has ended.
            pollfd entry{pidfd_, POLLIN, 0};
            const auto wait = std::clamp<long long>(left.count() + 1, 1, INT_MAX);
            ::poll(&entry, 1, static_cast<int>(wait));
        } else {
            const auto step = std::min<long long>(left.count() + 1, 10);
            timespec pause{0, static_cast<long>(step) * 1000000L};
            ::nanosleep(&pause, nullptr);
        }
    }
}

void PinEntryProcess::Kill() {
    if (!running_ || TryReap()) {
        return;
    }
    bool sent = false;
#ifdef SYS_pidfd_send_signal
    if (pidfd_ >= 0) {
        // Never hits a recycled pid, even when someone else reaped ours.
        sent = ::syscall(SYS_pidfd_send_signal, pidfd_, SIGKILL, nullptr, 0) == 0 || errno == ESRCH;
    }
#endif
    if (!sent) {
        ::kill(pid_, SIGKILL);  // not reaped by us yet, so the pid is still ours
    }
    // SIGKILL ends it as soon as it leaves any uninterruptible sleep.
    if (WaitUntil(Clock::now() + std::chrono::seconds(5))) {
        return;
    }
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(pid_, &status, 0);
        if (got == pid_) {
            status_ = status;
            haveStatus_ = true;
            break;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        break;
    }
    running_ = false;
}

void PinEntryProcess::Finish(Clock::time_point until) {
    CloseInput();
    if (!WaitUntil(until)) {
        Kill();
    }
    CloseAll();
}

std::string PinEntryProcess::HowItEnded() const {
    if (!haveStatus_) {
        return "";
    }
    if (WIFEXITED(status_)) {
        return "exited with status " + std::to_string(WEXITSTATUS(status_));
    }
    if (WIFSIGNALED(status_)) {
        return "killed by signal " + std::to_string(WTERMSIG(status_));
    }
    return "";
}

}  // namespace ref::pinentry
