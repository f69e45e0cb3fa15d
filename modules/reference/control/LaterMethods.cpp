// Methods of the seal and list families: their rows are here so that calls
// of the right shape answer "not supported" (-3) rather than failing as
// unknown, until they are built.
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
    // Seals, licence data, lists.
    Text(33, "BU"),    Text(34, "BB"), Text(98, "B"),      Text(99, ""),      Text(104, "B"),
    Text(121, "B"),    Text(148, "B"), Text(149, "B"),     Number(150, "BB"), Text(151, "B"),
    Number(152, "BB"), Text(153, "B"), Number(189, "BBI"), Text(190, "BI"),   Text(199, "B"),
};

}  // namespace

MethodFamily LaterMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
