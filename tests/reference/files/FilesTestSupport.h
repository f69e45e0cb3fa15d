#pragma once
// A scratch folder per test, and Failure codes as values.

#include <functional>
#include <string>

#include "core/Outcome.h"

// The code of the Failure f throws, kOk when it returns.
inline int32_t CodeOf(const std::function<void()>& f) {
    try {
        f();
        return ref::kOk;
    } catch (const ref::Failure& e) {
        return e.code();
    }
}

// mkdtemp under /tmp, removed with everything in it when it goes away.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

bool Exists(const std::string& path);  // lstat: links count as existing
// The names in a folder, sorted, "." and ".." left out.
std::string Listing(const std::string& dir);
