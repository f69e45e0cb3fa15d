#include "files/SafePath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Outcome.h"

namespace ref {

namespace {

[[noreturn]] void FailOpen(int error, const std::string& path) {
    if (error == ELOOP || error == EXDEV) {
        Fail(kPolicy, "\"" + path + "\" leads through a symbolic link or out of the folder");
    }
    Fail(kFile, "\"" + path + "\": " + std::strerror(error));
}

std::string Join(const std::vector<std::string>& components) {
    std::string out;
    for (const std::string& c : components) {
        if (!out.empty())
            out += '/';
        out += c;
    }
    return out;
}

// -1 with errno set, as the syscall answers.
int Openat2(int dirfd, const std::string& path, int flags, unsigned mode) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags);
    how.mode = (flags & O_CREAT) != 0 ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    long fd;
    do {
        fd = syscall(SYS_openat2, dirfd, path.c_str(), &how, sizeof how);
    } while (fd < 0 && (errno == EINTR || errno == EAGAIN));
    return static_cast<int>(fd);
}

// With O_NOFOLLOW a link answers ELOOP, or ENOTDIR when a folder was asked
// for: both are a link in the path.
[[noreturn]] void FailStep(int at, const std::string& name, const std::string& path) {
    const int error = errno;
    struct stat st {};
    if (fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        FailOpen(ELOOP, path);
    FailOpen(error, path);
}

// ".." never reaches here, so refusing every link keeps the walk inside.
UniqueFd Walk(int dirfd, const std::vector<std::string>& components, int flags, unsigned mode) {
    UniqueFd current;
    int at = dirfd;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        UniqueFd next(
            openat(at, components[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!next.valid())
            FailStep(at, components[i], Join(components));
        current = std::move(next);
        at = current.get();
    }
    UniqueFd last(openat(at, components.back().c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!last.valid())
        FailStep(at, components.back(), Join(components));
    return last;
}

}  // namespace

std::vector<std::string> SplitRelativePath(std::string_view path) {
    if (path.empty())
        Fail(kPolicy, "an empty path");
    if (path.find('\0') != std::string_view::npos)
        Fail(kPolicy, "a path with a NUL character");
    if (path.front() == '/')
        Fail(kPolicy, "an absolute path; give a path inside the files folder");
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const std::string_view part = path.substr(
            start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (part.empty() || part == "." || part == "..")
            Fail(kPolicy, "\"" + std::string(path) + "\" has an empty, \".\" or \"..\" part");
        out.emplace_back(part);
        if (slash == std::string_view::npos)
            break;
        start = slash + 1;
    }
    return out;
}

UniqueFd OpenBeneath(int dirfd, const std::vector<std::string>& components, int flags,
                     unsigned mode, Resolver resolver) {
    if (components.empty())
        Fail(kPolicy, "an empty path");
    if (resolver != Resolver::kWalk) {
        const int fd = Openat2(dirfd, Join(components), flags | O_CLOEXEC, mode);
        if (fd >= 0)
            return UniqueFd(fd);
        if (errno != ENOSYS || resolver == Resolver::kOpenat2)
            FailOpen(errno, Join(components));
    }
    return Walk(dirfd, components, flags, mode);
}

}  // namespace ref
