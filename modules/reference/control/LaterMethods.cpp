// Methods of the envelope, file, seal and list families: their rows are
// here so that calls of the right shape answer "not supported" (-3) rather
// than failing as unknown, until they are built.
#include "control/MethodTable.h"

namespace ref {

namespace {

constexpr MethodRow Text(int32_t dispid, std::string_view args) {
    return {dispid, args, nullptr, nullptr, true, false};
}
constexpr MethodRow Number(int32_t dispid, std::string_view args) {
    return {dispid, args, nullptr, nullptr, false, false};
}

constexpr MethodRow kRows[] = {
    // Envelopes, encryption, files, random data.
    Text(12, "BB"),
    Text(13, "B"),
    Text(16, "I"),
    Text(19, "BBB"),
    Number(20, "BB"),
    Text(38, "BBB"),
    Text(39, "B"),
    Text(40, "BBBB"),
    Number(41, "BB"),
    Text(44, "I"),
    Text(45, "BB"),
    Text(46, "BB"),
    Text(47, "BB"),
    Text(48, "B"),
    Number(52, ""),
    Number(53, ""),
    Text(54, "BB"),
    Text(55, "BBB"),
    Number(56, ""),
    Number(57, ""),
    Text(58, "B"),
    Number(59, "BB"),
    Text(60, "BB"),
    Text(61, "B"),
    Text(82, "B"),
    Text(83, "BB"),
    Number(111, "BBB"),
    Number(112, "BBB"),
    Number(113, "BBB"),
    Number(118, "BBB"),
    Text(119, "BB"),
    Text(194, "BBB"),
    Number(195, "BBB"),
    Text(196, ""),
    // Seals, licence data, lists.
    Text(33, "BU"),
    Text(34, "BB"),
    Text(98, "B"),
    Text(99, ""),
    Text(104, "B"),
    Text(121, "B"),
    Text(148, "B"),
    Text(149, "B"),
    Number(150, "BB"),
    Text(151, "B"),
    Number(152, "BB"),
    Text(153, "B"),
    Number(189, "BBI"),
    Text(190, "BI"),
    Text(199, "B"),
};

}  // namespace

MethodFamily LaterMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
