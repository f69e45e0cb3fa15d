#pragma once
// Turning a failed OpenSSL call into a Failure that says what went wrong.

#include <string>
#include <string_view>

#include "core/Outcome.h"

namespace ref {

// "what: <OpenSSL's oldest queued error>" (just "what" when the queue is
// empty); clears the queue.
std::string WithOpensslError(std::string_view what);

[[noreturn]] void FailOpenssl(int32_t code, std::string_view what);

}  // namespace ref
