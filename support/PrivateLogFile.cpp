#include "support/PrivateLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

class Descriptor {
  public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    int release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

  private:
    int m_fd;
};

// Why the folder is not private enough, or "" when it is.
std::string DirectoryRefusal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return "not a folder";
    }
    if (st.st_uid != geteuid()) {
        return "owned by another user";
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "writable by group or others";
    }
    return {};
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void Refuse(std::string* refusal, std::string reason) {
    if (refusal) {
        *refusal = std::move(reason);
    }
}

}  // namespace

namespace zqt {

std::FILE* OpenPrivateLogFile(const char* folder, const char* fileName, std::string* refusal) {
    if (!folder || !fileName || folder[0] == '\0' || fileName[0] == '\0') {
        return nullptr;
    }
    // Without its trailing "/" the last component is the folder itself, so
    // O_NOFOLLOW refuses a link put in its place.
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    // The folder is checked through the descriptor the file is then opened
    // in, so it cannot be swapped between the check and the open.
    Descriptor dir(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.get() < 0) {
        struct stat st {};
        if (errno == ELOOP || (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))) {
            Refuse(refusal, "a symbolic link");
        } else if (errno == ENOTDIR) {
            Refuse(refusal, "not a folder");
        } else if (errno != ENOENT) {
            Refuse(refusal, std::strerror(errno));
        }
        return nullptr;
    }
    if (std::string reason = DirectoryRefusal(dir.get()); !reason.empty()) {
        Refuse(refusal, std::move(reason));
        return nullptr;
    }
    // O_NONBLOCK: a FIFO planted under the day's name must not hang the
    // writer (with no reader the open fails at once); a regular file
    // ignores the flag.
    Descriptor file(openat(
        dir.get(), fileName,
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
    if (file.get() < 0 || !IsRegularFile(file.get())) {
        Refuse(refusal,
               std::string("its file ") + fileName + " is not a regular file we may write");
        return nullptr;
    }
    std::FILE* stream = fdopen(file.get(), "a");
    if (stream) {
        file.release();
    }
    return stream;
}

}  // namespace zqt
