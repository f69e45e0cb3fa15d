#pragma once
// The changes of one installation, taken back in reverse order unless it
// completes: a failure half way leaves the token and the store as they were.

#include <functional>
#include <utility>
#include <vector>

namespace ref {

class InstallUndo {
  public:
    InstallUndo() = default;
    InstallUndo(const InstallUndo&) = delete;
    InstallUndo& operator=(const InstallUndo&) = delete;
    ~InstallUndo() {
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
            try {
                (*it)();
            } catch (...) {
                // best effort: a pulled token keeps what it has
            }
        }
    }

    void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
    void Commit() { steps_.clear(); }

  private:
    std::vector<std::function<void()>> steps_;
};

}  // namespace ref
