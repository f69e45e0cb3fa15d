#include "app/NewFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace zqt {

namespace {

class DirectoryHandle {
  public:
    explicit DirectoryHandle(const std::string& path)
        : m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~DirectoryHandle() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    DirectoryHandle(const DirectoryHandle&) = delete;
    DirectoryHandle& operator=(const DirectoryHandle&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

std::string Joined(const std::string& directory, const std::string& name) {
    if (!directory.empty() && directory.back() == '/') {
        return directory + name;
    }
    return directory + "/" + name;
}

std::string Failure(const std::string& what, const std::string& path, int error) {
    return what + " " + path + ": " + std::strerror(error);
}

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t written = ::write(fd, content.data(), content.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Returns the error message, or nothing when the file was written and synced.
std::optional<std::string> WriteOne(int directoryFd, const std::string& path, const NewFile& file,
                                    bool& created) {
    created = false;
    const int fd = ::openat(directoryFd, file.name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file.mode);
    if (fd < 0) {
        if (errno == EEXIST) {
            return path + " exists already; not overwriting it";
        }
        return Failure("cannot create", path, errno);
    }
    created = true;
    int error = 0;
    if (!WriteAll(fd, file.content) || ::fsync(fd) != 0) {
        error = errno;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    if (error != 0) {
        return Failure("cannot write", path, error);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> WriteNewFiles(const std::string& directory,
                                         std::span<const NewFile> files) {
    DirectoryHandle dir(directory);
    if (dir.fd() < 0) {
        return Failure("cannot open directory", directory, errno);
    }
    for (const NewFile& file : files) {
        struct stat info;
        const std::string path = Joined(directory, file.name);
        if (::fstatat(dir.fd(), file.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            return path + " exists already; not overwriting it";
        }
        if (errno != ENOENT) {
            return Failure("cannot check", path, errno);
        }
    }
    std::vector<const NewFile*> written;
    for (const NewFile& file : files) {
        bool created = false;
        auto error = WriteOne(dir.fd(), Joined(directory, file.name), file, created);
        if (created && error) {
            ::unlinkat(dir.fd(), file.name.c_str(), 0);
        }
        if (error) {
            for (const NewFile* done : written) {
                ::unlinkat(dir.fd(), done->name.c_str(), 0);
            }
            return error;
        }
        written.push_back(&file);
    }
    return std::nullopt;
}

}  // namespace zqt
