#include "service/request_dispatch.h"

#include <mutex>
#include <utility>

#include "support/TextConversion.h"

request_dispatch::request_dispatch(net::adaptive_mutex& lock, runner run, origin_gate admits)
    : lock_(lock), run_(std::move(run)), admits_(std::move(admits)) {}

request_dispatch::request_dispatch(net::adaptive_mutex& lock, plain_runner run)
    : lock_(lock), run_([run = std::move(run)](std::u16string request, const request_caller&) {
          return run(std::move(request));
      }) {}

std::string request_dispatch::RunRequestText(std::string_view utf8Request,
                                             const request_caller& caller) const {
    std::u16string request = zqt::Utf8ToUtf16(utf8Request);
    std::u16string response;
    {
        std::lock_guard guard(lock_);
        // Requests that waited for the lock while the service began to stop
        // are not run: only the one already running may finish.
        if (closed_.load()) {
            throw request_dropped();
        }
        struct running_mark {
            std::atomic<int>& count;
            explicit running_mark(std::atomic<int>& c) : count(c) { ++count; }
            ~running_mark() { --count; }
        } mark(running_);
        response = run_(std::move(request), caller);
    }
    return zqt::Utf16ToUtf8(response);
}
