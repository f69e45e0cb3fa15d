/* The probe control module: see probe_control.h. */
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>

#include "zqtca/control_module.h"

#pragma GCC visibility push(default)
#include "probe_control.h"
#pragma GCC visibility pop

#ifndef ZQT_PROBE_ABI_VERSION
#define ZQT_PROBE_ABI_VERSION ZQT_CONTROL_ABI_VERSION
#endif

enum probe_behaviour { kWellBehaved, kWrongType, kNullString };

struct zqt_control {
    enum probe_behaviour behaviour;
    struct zqt_control* self; /* cleared on destroy, so a second destroy is seen */
};

static atomic_uint g_created;
static atomic_uint g_destroyed;
static atomic_uint g_foreign_destroys;

static const uint16_t kOk[2] = {'o', 'k'};

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_PROBE_ABI_VERSION;
}

ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id) {
    zqt_control* control;
    if (class_id == NULL) {
        return NULL;
    }
    control = calloc(1, sizeof *control);
    if (control == NULL) {
        return NULL;
    }
    control->self = control;
    if (strcmp(class_id, "probe.wrong-type") == 0) {
        control->behaviour = kWrongType;
    } else if (strcmp(class_id, "probe.null-string") == 0) {
        control->behaviour = kNullString;
    } else {
        control->behaviour = kWellBehaved;
    }
    atomic_fetch_add(&g_created, 1u);
    return control;
}

ZQT_EXPORT void zqt_control_destroy(zqt_control* control) {
    if (control == NULL || control->self != control) {
        atomic_fetch_add(&g_foreign_destroys, 1u);
        return;
    }
    control->self = NULL;
    atomic_fetch_add(&g_destroyed, 1u);
    free(control);
}

ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result) {
    (void)dispid;
    (void)args;
    (void)argc;
    if (control == NULL || result == NULL) {
        return -1;
    }
    switch (control->behaviour) {
        case kWrongType:
            result->vt = result->vt == ZQT_VT_I4 ? ZQT_VT_BSTR : ZQT_VT_I4;
            return 0;
        case kNullString:
            result->str = NULL;
            result->len = 3;
            result->i4 = 7;
            return 0;
        case kWellBehaved:
            break;
    }
    result->i4 = 7;
    result->str = kOk;
    result->len = 2;
    return 0;
}

uint32_t zqt_probe_created(void) {
    return atomic_load(&g_created);
}

uint32_t zqt_probe_destroyed(void) {
    return atomic_load(&g_destroyed);
}

uint32_t zqt_probe_foreign_destroys(void) {
    return atomic_load(&g_foreign_destroys);
}
