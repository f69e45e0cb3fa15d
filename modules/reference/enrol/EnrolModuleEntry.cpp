// The enrolment control's C entry points, class "ulvo.certenroll".
#include "zqtca/control_module.h"

extern "C" {

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_CONTROL_ABI_VERSION;
}

}  // extern "C"
