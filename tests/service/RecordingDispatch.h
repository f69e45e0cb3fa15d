#pragma once
// A request_dispatch whose runner stands in for RunProcess: it records every
// request text it is given, notes whether the dispatch lock was held during
// the run, and answers "FunctionRes[<request>]".

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "net/adaptive_mutex.h"
#include "service/request_dispatch.h"

namespace service_test {

class RecordingDispatch {
  public:
    std::vector<std::u16string> seen() const {
        std::lock_guard guard(seenLock_);
        return seen_;
    }
    // True when every run so far found the dispatch lock taken.
    bool lockHeldEveryTime() const { return lockHeld_; }

    const request_dispatch& dispatch() const { return dispatch_; }

  private:
    std::u16string Run(std::u16string request) {
        if (lock_.try_lock()) {
            lock_.unlock();
            lockHeld_ = false;
        }
        std::lock_guard guard(seenLock_);
        seen_.push_back(request);
        return u"FunctionRes[" + request + u"]";
    }

    net::adaptive_mutex lock_;
    mutable std::mutex seenLock_;
    std::vector<std::u16string> seen_;
    std::atomic<bool> lockHeld_{true};
    request_dispatch dispatch_{lock_, [this](std::u16string request) { return Run(request); }};
};

}  // namespace service_test
