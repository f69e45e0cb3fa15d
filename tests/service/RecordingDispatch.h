#pragma once
// A request_dispatch whose runner stands in for RunProcess: it records every
// request text it is given and for whom, notes whether the dispatch lock was
// held during the run, and answers "FunctionRes[<request>]". An origin
// listed in `refused` is not admitted.

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "net/adaptive_mutex.h"
#include "service/request_dispatch.h"

namespace service_test {

struct seen_caller {
    std::string origin;
    std::string transport;
    bool operator==(const seen_caller&) const = default;
};

class RecordingDispatch {
  public:
    explicit RecordingDispatch(std::set<std::string> refused = {}) : refused_(std::move(refused)) {}

    std::vector<std::u16string> seen() const {
        std::lock_guard guard(seenLock_);
        return seen_;
    }
    std::vector<seen_caller> callers() const {
        std::lock_guard guard(seenLock_);
        return callers_;
    }
    // True when every run so far found the dispatch lock taken.
    bool lockHeldEveryTime() const { return lockHeld_; }

    const request_dispatch& dispatch() const { return dispatch_; }

  private:
    std::u16string Run(std::u16string request, const request_caller& caller) {
        if (lock_.try_lock()) {
            lock_.unlock();
            lockHeld_ = false;
        }
        std::lock_guard guard(seenLock_);
        seen_.push_back(request);
        callers_.push_back(seen_caller{caller.origin, caller.transport});
        return u"FunctionRes[" + request + u"]";
    }

    const std::set<std::string> refused_;
    net::adaptive_mutex lock_;
    mutable std::mutex seenLock_;
    std::vector<std::u16string> seen_;
    std::vector<seen_caller> callers_;
    std::atomic<bool> lockHeld_{true};
    request_dispatch dispatch_{
        lock_,
        request_dispatch::runner([this](std::u16string request, const request_caller& caller) {
            return Run(request, caller);
        }),
        [this](const char* origin) { return origin == nullptr || refused_.count(origin) == 0; }};
};

}  // namespace service_test
