#pragma once
// The exports' buffer protocol. The size call computes the list and keeps
// it for the fill call on the same thread, so what the fill writes is
// exactly what the size call announced, whatever changed in between, and
// two threads reading at once each get their own list.

#include <cstdint>
#include <string>

namespace ref {

// buffer == nullptr: a size call, the list made by compute() is kept and
// its size (NUL included) returned, 0 for an empty list. Otherwise a fill
// call: the kept list is written and released; with none kept (no size
// call before it, or an empty list), nothing is written because the
// buffer's size is unknown. Returns the bytes written. Never throws.
using ListComputer = std::string (*)() noexcept;
int32_t ServeBufferProtocol(char* buffer, ListComputer compute) noexcept;

}  // namespace ref
