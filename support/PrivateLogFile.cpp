#include "support/PrivateLogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool IsPrivateDirectory(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool IsRegularFile(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

namespace zqt {

std::FILE* OpenPrivateLogFile(const char* folder, const char* fileName) {
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
    if (dir.get() < 0 || !IsPrivateDirectory(dir.get())) {
        return nullptr;
    }
    Descriptor file(openat(dir.get(), fileName,
                           O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                           0600));
    if (file.get() < 0 || !IsRegularFile(file.get())) {
        return nullptr;
    }
    std::FILE* stream = fdopen(file.get(), "a");
    if (stream) {
        file.release();
    }
    return stream;
}

}  // namespace zqt
