#pragma once
// Size limits of seals and licence data: generous for any real seal
// picture, small enough that a hostile page or token cannot exhaust memory.

#include <cstddef>

namespace ref {

inline constexpr size_t kMaxSealData = 8u << 20;  // bytes of one seal's data or licence
// A record's JSON: the Base64 of the data plus room for the other fields.
inline constexpr size_t kMaxRecordJson = kMaxSealData / 3 * 4 + 64 * 1024;

}  // namespace ref
