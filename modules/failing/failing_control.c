/* The failing control module: makes a control for any class id, and every
 * invocation of it fails. Each call returns another non-zero code and leaves
 * a result that must not be read (a NULL string claiming a length, a number),
 * so a host that used a failed result would be seen. With ZQT_FAILING_TRACE
 * set, each invocation appends "class_id dispid" to that file, so a test can
 * tell a failed invocation from a control that was never made. */
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zqtca/control_module.h"

struct zqt_control {
    char class_id[64];
};

static const int32_t kFailures[] = {-1, 1, -2147467259 /* E_FAIL */, -2147483647 - 1, 2147483647};
static atomic_uint g_calls;
static pthread_mutex_t g_trace_lock = PTHREAD_MUTEX_INITIALIZER;

static void trace(const zqt_control* control, int32_t dispid) {
    const char* path = getenv("ZQT_FAILING_TRACE");
    FILE* file;
    if (path == NULL || *path == '\0') {
        return;
    }
    pthread_mutex_lock(&g_trace_lock);
    file = fopen(path, "a");
    if (file != NULL) {
        fprintf(file, "%s %d\n", control->class_id, (int)dispid);
        fclose(file);
    }
    pthread_mutex_unlock(&g_trace_lock);
}

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_CONTROL_ABI_VERSION;
}

ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id) {
    zqt_control* control;
    if (class_id == NULL) {
        return NULL;
    }
    control = calloc(1, sizeof *control);
    if (control != NULL) {
        strncpy(control->class_id, class_id, sizeof control->class_id - 1);
    }
    return control;
}

ZQT_EXPORT void zqt_control_destroy(zqt_control* control) {
    free(control);
}

ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result) {
    unsigned n = atomic_fetch_add(&g_calls, 1u);
    (void)args;
    (void)argc;
    if (control != NULL) {
        trace(control, dispid);
    }
    if (result != NULL) {
        result->i4 = 12345;
        result->str = NULL;
        result->len = 4096;
    }
    return kFailures[n % (sizeof kFailures / sizeof kFailures[0])];
}
