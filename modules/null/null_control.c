/* The null control module: makes a control for any class id and answers
 * every method at once, "0" for a text result and 0 for a number result.
 * It keeps nothing, traces nothing and takes no lock, so that benchmarks
 * measure the service and not the control. Built as both libulvoctrl.so
 * and libulvocertenroll.so, in lib/null/. */
#include <stdlib.h>

#include "zqtca/control_module.h"

enum { kBadCall = -1000 };

struct zqt_control {
    int unused;
};

/* Never changes, so it stays valid however long the host keeps it. */
static const uint16_t kZeroText[] = {'0'};

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_CONTROL_ABI_VERSION;
}

ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id) {
    if (class_id == NULL) {
        return NULL;
    }
    return calloc(1, sizeof(zqt_control));
}

ZQT_EXPORT void zqt_control_destroy(zqt_control* control) {
    free(control);
}

ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result) {
    (void)dispid;
    if (control == NULL || result == NULL || (argc > 0 && args == NULL)) {
        return kBadCall;
    }
    switch (result->vt) {
        case ZQT_VT_I4:
            result->i4 = 0;
            return 0;
        case ZQT_VT_BSTR:
            result->str = kZeroText;
            result->len = 1;
            return 0;
        default:
            return kBadCall;
    }
}
