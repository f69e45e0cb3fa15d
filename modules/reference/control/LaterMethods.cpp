// Methods of the seal and list families: their rows are here so that calls
// of the right shape answer "not supported" (-3) rather than failing as
// unknown, until they are built.
#include "control/MethodTable.h"

namespace ref {

namespace {

constexpr MethodRow kRows[] = {
    // Seals, licence data, lists.
    TextRow(33, "BU"),     TextRow(34, "BB"),  TextRow(98, "B"),     TextRow(99, ""),
    TextRow(104, "B"),     TextRow(121, "B"),  TextRow(148, "B"),    TextRow(149, "B"),
    NumberRow(150, "BB"),  TextRow(151, "B"),  NumberRow(152, "BB"), TextRow(153, "B"),
    NumberRow(189, "BBI"), TextRow(190, "BI"), TextRow(199, "B"),
};

}  // namespace

MethodFamily LaterMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
