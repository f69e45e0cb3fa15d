#include "files/SafeFolder.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/Bytes.h"
#include "core/Config.h"
#include "core/Outcome.h"

namespace ref {

namespace {

[[noreturn]] void FailErrno(const std::string& what) {
    Fail(kFile, what + ": " + std::strerror(errno));
}

std::string TempName() {
    uint8_t random[8];
    if (RAND_bytes(random, sizeof random) != 1)
        Fail(kInternal, "no random data for a temporary name");
    // Kept short so that a long final name still leaves room (NAME_MAX).
    return ".zqt-" + HexEncode(random) + ".part";
}

}  // namespace

OutputFile::OutputFile(UniqueFd parent, std::string name, std::string tempName, UniqueFd fd)
    : parent_(std::move(parent)),
      name_(std::move(name)),
      tempName_(std::move(tempName)),
      fd_(std::move(fd)) {}

OutputFile::~OutputFile() {
    if (!done_ && parent_.valid() && !tempName_.empty()) {
        fd_.Reset();
        unlinkat(parent_.get(), tempName_.c_str(), 0);
    }
}

void OutputFile::Commit() {
    if (fsync(fd_.get()) != 0)
        FailErrno("writing \"" + name_ + "\"");
    // RENAME_NOREPLACE: a name that appeared since the check (a file, a link
    // someone planted) is never replaced nor followed.
    if (renameat2(parent_.get(), tempName_.c_str(), parent_.get(), name_.c_str(),
                  RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            Fail(kFile, "\"" + name_ + "\" exists");
        if (errno != EINVAL && errno != ENOSYS)
            FailErrno("naming \"" + name_ + "\"");
        // A file system without RENAME_NOREPLACE: link() never replaces either.
        if (linkat(parent_.get(), tempName_.c_str(), parent_.get(), name_.c_str(), 0) != 0) {
            if (errno == EEXIST)
                Fail(kFile, "\"" + name_ + "\" exists");
            FailErrno("naming \"" + name_ + "\"");
        }
        unlinkat(parent_.get(), tempName_.c_str(), 0);
    }
    done_ = true;
    fsync(parent_.get());
}

SafeFolder::SafeFolder(std::string dir, Resolver resolver)
    : dir_(std::move(dir)), resolver_(resolver) {
    while (dir_.size() > 1 && dir_.back() == '/') dir_.pop_back();
    if (!EnsurePrivateDir(dir_))
        Fail(kFile, "the files folder " + dir_ + " cannot be made or is not private");
    fd_ = UniqueFd(open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd_.valid())
        FailErrno("the files folder " + dir_);
}

std::string SafeFolder::FullPath(std::string_view relative) const {
    SplitRelativePath(relative);
    return dir_ + "/" + std::string(relative);
}

UniqueFd SafeFolder::OpenInput(std::string_view relative) const {
    const std::vector<std::string> parts = SplitRelativePath(relative);
    // Non-blocking until it is known to be a regular file (not a FIFO).
    UniqueFd fd = OpenBeneath(fd_.get(), parts, O_RDONLY | O_NOCTTY | O_NONBLOCK, 0, resolver_);
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
        FailErrno(std::string(relative));
    if (!S_ISREG(st.st_mode))
        Fail(kFile, "\"" + std::string(relative) + "\" is not a regular file");
    const int fl = fcntl(fd.get(), F_GETFL);
    if (fl < 0 || fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK) != 0)
        FailErrno(std::string(relative));
    return fd;
}

OutputFile SafeFolder::CreateOutput(std::string_view relative) const {
    const std::vector<std::string> parts = SplitRelativePath(relative);
    const std::string name = parts.back();
    // The folder the output goes to, reached without links.
    UniqueFd parent =
        parts.size() == 1
            ? UniqueFd(fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0))
            : OpenBeneath(fd_.get(), std::vector<std::string>(parts.begin(), parts.end() - 1),
                          O_RDONLY | O_DIRECTORY, 0, resolver_);
    if (!parent.valid())
        FailErrno("the files folder");
    struct stat st {};
    if (fstatat(parent.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode))
            Fail(kPolicy, "\"" + std::string(relative) + "\" is a symbolic link");
        Fail(kFile, "\"" + std::string(relative) + "\" exists");
    }
    if (errno != ENOENT)
        FailErrno(std::string(relative));
    const std::string temp = TempName();
    UniqueFd fd(openat(parent.get(), temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        FailErrno(std::string(relative));
    OutputFile out(std::move(parent), name, temp, std::move(fd));
    if (fchmod(out.fd(), 0600) != 0)
        FailErrno(std::string(relative));
    return out;
}

}  // namespace ref
