#include "service/origin_policy_file.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

#include "net/log.h"

namespace {

constexpr const char* kFile = "origin_policy_file";
// A policy is a few lines; anything this large is not one.
constexpr size_t kMaxPolicyBytes = 1024 * 1024;

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The whole file, or null with errno set; EFBIG when it is too large.
std::optional<std::string> ReadWhole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string text;
    char chunk[8192];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 || text.size() + static_cast<size_t>(n) > kMaxPolicyBytes) {
            const int why = n < 0 ? errno : EFBIG;
            ::close(fd);
            errno = why;
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

}  // namespace

bool origin_policy_file::file_version::operator==(const file_version& other) const {
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && SameTime(modified, other.modified) &&
           SameTime(changed, other.changed);
}

origin_policy_file::origin_policy_file(std::string path) : path_(std::move(path)) {}

std::string origin_policy_file::DefaultPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else {
        const std::string home = HomeDirectory();
        if (home.empty()) {
            return {};
        }
        base = home + "/.config";
    }
    return base + "/zqtca/origins.conf";
}

bool origin_policy_file::Admits(const char* origin) {
    file_version now;
    struct stat st {};
    if (!path_.empty() && ::stat(path_.c_str(), &st) == 0) {
        now.exists = true;
        now.device = st.st_dev;
        now.inode = st.st_ino;
        now.size = st.st_size;
        now.modified = st.st_mtim;
        now.changed = st.st_ctim;
    } else if (!path_.empty() && errno != ENOENT && errno != ENOTDIR) {
        // There, but not to be looked at: treat it as a file that cannot be read.
        now.exists = true;
    }
    {
        std::shared_lock read(mutex_);
        if (loaded_ && now == version_) {
            return policy_.Admits(origin);
        }
    }
    std::unique_lock write(mutex_);
    if (!loaded_ || !(now == version_)) {
        Reload(now);
    }
    return policy_.Admits(origin);
}

void origin_policy_file::Reload(const file_version& version) {
    const char* fn = "origin_policy_file::Reload";
    loaded_ = true;
    version_ = version;
    if (!version.exists) {
        policy_ = origin_policy();
        return;
    }
    std::optional<std::string> text = ReadWhole(path_);
    if (!text) {
        if (errno == ENOENT) {  // removed since the stat
            version_ = file_version();
            policy_ = origin_policy();
            return;
        }
        net::log::error4(kFile, __LINE__, fn,
                         "%s: cannot be read (%s); every request is refused until it is fixed",
                         path_.c_str(), std::strerror(errno));
        policy_ = origin_policy::DenyAll();
        return;
    }
    std::optional<origin_policy::parse_error> error;
    policy_ = origin_policy::Parse(*text, error);
    if (error) {
        net::log::error4(kFile, __LINE__, fn,
                         "%s:%d: %s; every request is refused until it is fixed", path_.c_str(),
                         error->line, error->reason.c_str());
        return;
    }
    net::log::msg4(kFile, __LINE__, fn, "origin policy read from %s", path_.c_str());
}
