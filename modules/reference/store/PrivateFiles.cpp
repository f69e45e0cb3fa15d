#include "store/PrivateFiles.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Config.h"
#include "core/Outcome.h"

namespace ref {
namespace {

[[noreturn]] void FailErrno(const std::string& what, const std::string& path, int error) {
    Fail(kFile, what + " " + path + ": " + std::strerror(error));
}

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    int get() const { return fd_; }
    // Closes now so that a failing close (a late write error) is seen.
    int Close() {
        const int rc = close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

void WriteAll(int fd, ByteView bytes, const std::string& path) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FailErrno("cannot write", path, errno);
        }
        done += static_cast<size_t>(n);
    }
}

std::string TempName(const std::string& name) {
    unsigned char random[8];
    if (RAND_bytes(random, sizeof random) != 1) {
        Fail(kInternal, "no random bytes for a temporary file name");
    }
    // A leading dot and no ".p12" ending keep a half-written file out of List.
    return "." + name + "." + HexEncode(ByteView(random, sizeof random)) + ".tmp";
}

// Creates the folder 0700 when missing; refuses one that is a symbolic link,
// not a folder, not ours, or writable by others.
int OpenPrivateDir(const std::string& dir) {
    if (!EnsurePrivateDir(dir)) {
        Fail(kFile, "store folder is not a private folder of this user: " + dir);
    }
    // Checked again on the opened folder: a symbolic link put in its place
    // after the check above is not followed.
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        FailErrno("cannot open folder", dir, errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid() ||
        (st.st_mode & 022) != 0) {
        close(fd);
        Fail(kFile, "store folder is not a private folder of this user: " + dir);
    }
    return fd;
}

}  // namespace

Bytes ReadPrivateFile(const std::string& path) {
    Fd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        FailErrno("cannot open", path, errno);
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        FailErrno("cannot stat", path, errno);
    }
    if (!S_ISREG(st.st_mode)) {
        Fail(kFile, "not a regular file: " + path);
    }
    if (st.st_size > static_cast<off_t>(kMaxStoreFileSize)) {
        Fail(kFile, "file too large: " + path);
    }
    Bytes out(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = read(fd.get(), out.data() + done, out.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FailErrno("cannot read", path, errno);
        }
        if (n == 0)
            break;  // shrank while being read
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
}

void WritePrivateFile(const std::string& dir, const std::string& name, ByteView bytes) {
    Fd dirFd(OpenPrivateDir(dir));
    const std::string temp = TempName(name);
    Fd fd(openat(dirFd.get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 0600));
    if (fd.get() < 0) {
        FailErrno("cannot create", dir + "/" + temp, errno);
    }
    try {
        // The mode asked for at creation is narrowed by the umask only; make
        // sure of it anyway.
        if (fchmod(fd.get(), 0600) != 0) {
            FailErrno("cannot set the mode of", dir + "/" + temp, errno);
        }
        WriteAll(fd.get(), bytes, dir + "/" + temp);
        if (fsync(fd.get()) != 0) {
            FailErrno("cannot flush", dir + "/" + temp, errno);
        }
        if (fd.Close() != 0) {
            FailErrno("cannot close", dir + "/" + temp, errno);
        }
        if (renameat(dirFd.get(), temp.c_str(), dirFd.get(), name.c_str()) != 0) {
            FailErrno("cannot rename to", dir + "/" + name, errno);
        }
    } catch (...) {
        unlinkat(dirFd.get(), temp.c_str(), 0);
        throw;
    }
    // The new name must survive a crash too; a folder that cannot be flushed
    // leaves the file written all the same.
    fsync(dirFd.get());
}

}  // namespace ref
