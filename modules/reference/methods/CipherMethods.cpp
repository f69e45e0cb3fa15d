// Methods of symmetric encryption, of files inside the files folder, and of
// random data.
#include "control/MethodTable.h"

namespace ref {

namespace {

constexpr MethodRow Text(int32_t dispid, std::string_view args) {
    return {dispid, args, nullptr, nullptr, true, false};
}
constexpr MethodRow Number(int32_t dispid, std::string_view args) {
    return {dispid, args, nullptr, nullptr, false, false};
}

// Rows without a function answer "not supported" (-3) until they are built.
constexpr MethodRow kRows[] = {
    Text(45, "BB"),     Text(46, "BB"),     Number(111, "BBB"), Number(112, "BBB"),
    Number(113, "BBB"), Number(118, "BBB"), Text(194, "BBB"),   Number(195, "BBB"),
    Text(16, "I"),      Text(44, "I"),      Text(196, ""),
};

}  // namespace

MethodFamily CipherMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
