// The enrolment control's C entry points, class "ulvo.certenroll".
#include <cstring>
#include <new>

#include "enrol/EnrolControl.h"
#include "pin/CallerText.h"
#include "zqtca/control_module.h"

struct zqt_control {
    ref::EnrolControl enrol;
};

extern "C" {

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_CONTROL_ABI_VERSION;
}

ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id) {
    if (class_id == nullptr || std::strcmp(class_id, "ulvo.certenroll") != 0) {
        return nullptr;
    }
    try {
        return new zqt_control();
    } catch (...) {
        return nullptr;  // nothing may unwind into the host
    }
}

ZQT_EXPORT void zqt_control_destroy(zqt_control* control) {
    delete control;
}

ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result) {
    if (control == nullptr) {
        return 1;
    }
    try {
        return control->enrol.Invoke(dispid, args, argc, result);
    } catch (...) {
        return 1;
    }
}

ZQT_EXPORT int zqt_control_set_caller(void* control, const uint16_t* origin, uint32_t length) {
    if (control == nullptr) {
        return 1;
    }
    try {
        static_cast<zqt_control*>(control)->enrol.caller = ref::CallerFromOrigin(origin, length);
        return 0;
    } catch (...) {
        return 1;
    }
}

}  // extern "C"
