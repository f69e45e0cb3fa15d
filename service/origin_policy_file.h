#pragma once
// The origin policy as the file origins.conf says it, read again whenever
// the file changes. Without the file every origin is served; a file that
// cannot be read or does not parse refuses every request until it is fixed,
// and says why on standard error once per change.

#include <sys/types.h>

#include <ctime>
#include <mutex>
#include <shared_mutex>
#include <string>

#include "service/origin_policy.h"

class origin_policy_file {
  public:
    explicit origin_policy_file(std::string path);

    // $XDG_CONFIG_HOME/zqtca/origins.conf; $HOME/.config when that is unset,
    // empty or not absolute; empty when there is no home either.
    static std::string DefaultPath();

    // Checks the file (one stat) and decides. Safe from any thread.
    bool Admits(const char* origin);

    const std::string& path() const { return path_; }

  private:
    // What tells one version of the file from the next.
    struct file_version {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const file_version& other) const;
    };

    void Reload(const file_version& version);

    const std::string path_;
    // Shared while the file stays as it was, which is nearly always: the
    // connections' threads then never wait for each other here.
    std::shared_mutex mutex_;
    bool loaded_ = false;   // guarded by mutex_
    file_version version_;  // guarded by mutex_
    origin_policy policy_;  // guarded by mutex_
};
