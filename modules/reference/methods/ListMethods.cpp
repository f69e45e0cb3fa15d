// The live list of usable certificates and seals (GetUselist).
#include "control/MainControl.h"
#include "control/MethodTable.h"
#include "core/Outcome.h"
#include "listing/CertSealList.h"

namespace ref {

namespace {

// Read afresh through the control's own tokens and store at every call:
// a pulled token is gone from the answer at once.
std::string GetUselist(MainControl& c, const MethodArgs&) {
    const ListSources sources{c.tokens, c.store, c.config.sealDir};
    std::string list = BuildCertSealList(sources, ListForm::kFull);
    if (list.empty())
        Fail(kNotFound, "no certificate with its private key and no seal was found");
    return list;
}

constexpr MethodRow kRows[] = {
    TextRow(99, "", GetUselist),
};

}  // namespace

MethodFamily ListMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
