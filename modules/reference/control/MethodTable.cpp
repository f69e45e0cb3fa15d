#include "control/MethodTable.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace ref {

const MethodRow* FindMethod(int32_t dispid) {
    static const std::vector<const MethodRow*> table = [] {
        std::vector<const MethodRow*> rows;
        for (const MethodFamily family :
             {SigningMethods(), VerificationMethods(), CertificateMethods(), DeviceMethods(),
              EnvelopeMethods(), CipherMethods(), SealMethods(), ListMethods()}) {
            for (size_t i = 0; i < family.count; ++i) {
                rows.push_back(&family.rows[i]);
            }
        }
        std::sort(rows.begin(), rows.end(),
                  [](const MethodRow* a, const MethodRow* b) { return a->dispid < b->dispid; });
        return rows;
    }();
    const auto it =
        std::lower_bound(table.begin(), table.end(), dispid,
                         [](const MethodRow* row, int32_t id) { return row->dispid < id; });
    return it != table.end() && (*it)->dispid == dispid ? *it : nullptr;
}

}  // namespace ref
