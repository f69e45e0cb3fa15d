// Methods of the seal and licence-data family. Rows without a function
// answer "not supported" (-3) until they are built.
#include "control/MethodTable.h"

namespace ref {

namespace {

constexpr MethodRow kRows[] = {
    // Seals, licence data.
    TextRow(33, "BU"),     TextRow(34, "BB"),  TextRow(98, "B"),
    TextRow(104, "B"),     TextRow(121, "B"),  TextRow(148, "B"),    TextRow(149, "B"),
    NumberRow(150, "BB"),  TextRow(151, "B"),  NumberRow(152, "BB"), TextRow(153, "B"),
    NumberRow(189, "BBI"), TextRow(190, "BI"), TextRow(199, "B"),
};

}  // namespace

MethodFamily SealMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
