// The live list of usable certificates and seals (GetUselist).
#include "control/MethodTable.h"

namespace ref {

namespace {

constexpr MethodRow kRows[] = {
    TextRow(99, ""),
};

}  // namespace

MethodFamily ListMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
