#include "sidelib/BufferProtocol.h"

#include <cstdlib>
#include <cstring>
#include <limits>

namespace ref {
namespace {

// Trivially destructible on purpose: a thread_local with a destructor would
// keep the library loaded until the thread ends, while the host means to
// unload it after each read.
struct PendingList {
    char* bytes = nullptr;  // malloc'd, NUL-terminated
    size_t size = 0;        // NUL included
};
thread_local PendingList pending;

void Release() noexcept {
    std::free(pending.bytes);
    pending = PendingList();
}

int32_t SizeCall(ListComputer compute) noexcept {
    Release();
    std::string text;
    try {
        text = compute();
    } catch (...) {
        return 0;  // out of memory: no list rather than a dead host
    }
    const size_t size = text.size() + 1;
    if (text.empty() || size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        return 0;
    }
    char* bytes = static_cast<char*>(std::malloc(size));
    if (bytes == nullptr) {
        return 0;
    }
    std::memcpy(bytes, text.c_str(), size);
    pending = PendingList{bytes, size};
    return static_cast<int32_t>(size);
}

int32_t FillCall(char* buffer) noexcept {
    if (pending.bytes == nullptr) {
        return 0;
    }
    const size_t size = pending.size;
    std::memcpy(buffer, pending.bytes, size);
    Release();
    return static_cast<int32_t>(size);
}

}  // namespace

int32_t ServeBufferProtocol(char* buffer, ListComputer compute) noexcept {
    return buffer == nullptr ? SizeCall(compute) : FillCall(buffer);
}

}  // namespace ref
