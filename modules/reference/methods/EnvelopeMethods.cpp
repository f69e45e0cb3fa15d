// Methods that seal data for recipients and open what was sealed for the
// user: CMS envelopes, signed envelopes, SM2 and RSA encryption.
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
    Text(12, "BB"), Text(13, "B"),    Text(19, "BBB"),  Number(20, "BB"), Text(38, "BBB"),
    Text(39, "B"),  Text(40, "BBBB"), Number(41, "BB"), Text(54, "BB"),   Text(55, "BBB"),
    Text(58, "B"),  Number(59, "BB"), Text(82, "B"),    Text(83, "BB"),   Text(119, "BB"),
    Text(60, "BB"), Text(61, "B"),    Number(52, ""),   Number(53, ""),   Number(56, ""),
    Number(57, ""), Text(47, "BB"),   Text(48, "B"),
};

}  // namespace

MethodFamily EnvelopeMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
