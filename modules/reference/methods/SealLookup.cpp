#include "methods/SealLookup.h"

#include "core/Outcome.h"
#include "methods/SealSupport.h"

namespace ref {

SealBinding FindSealBinding(MainControl& control, const std::string& name) {
    if (name.empty())
        Fail(kBadParam, "no seal name given");
    const std::vector<StoredSeal> seals = AllSeals(control);
    const StoredSeal& seal = PickSeal(seals, name);
    if (seal.record.certSn.empty())
        Fail(kNotFound, "the seal \"" + name + "\" is bound to no certificate");
    return {name, seal.record.certSn};
}

}  // namespace ref
