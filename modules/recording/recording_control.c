/* The recording control module: makes a control for any class id, records
 * every invocation with copies of its arguments and answers from a script.
 * All state sits behind one mutex, so tests may drive it from any thread. */
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

/* The scripting interface is looked up by tests with dlsym. */
#pragma GCC visibility push(default)
#include "recording_control.h"
#include "recording_trace.h"
#pragma GCC visibility pop

#ifndef ZQT_RECORDING_ABI_VERSION
#define ZQT_RECORDING_ABI_VERSION ZQT_CONTROL_ABI_VERSION
#endif

enum { kAnyDispid = -1, kBadCall = -1000 };

struct zqt_control {
    char* class_id;
    uint16_t* answer; /* the last BSTR answer, valid until the next call */
};

typedef struct {
    int32_t dispid;
    int32_t invoke_rc;
    int32_t i4;
    uint16_t* str;
    uint32_t len;
} script_entry;

typedef struct {
    char* class_id;
    int32_t dispid;
    uint16_t result_vt;
    uint32_t argc;
    zqt_value* args; /* strings are the module's own copies */
} call_record;

typedef struct {
    char* class_id;
    uint16_t* origin; /* never NULL once recorded, even for length 0 */
    uint32_t len;
} caller_record;

static pthread_mutex_t g_lock = PTHREAD_MUTEX_INITIALIZER;
static caller_record* g_callers;
static uint32_t g_caller_count;
static uint32_t g_caller_capacity;
static int32_t g_refuse_create;
static script_entry* g_scripts;
static uint32_t g_script_count;
static call_record* g_calls;
static uint32_t g_call_count;
static uint32_t g_call_capacity;

static char* copy_text(const char* text) {
    size_t size = strlen(text) + 1;
    char* copy = malloc(size);
    if (copy != NULL) {
        memcpy(copy, text, size);
    }
    return copy;
}

/* A copy of len code units; never NULL on success, even for len 0. */
static uint16_t* copy_units(const uint16_t* units, uint32_t len) {
    uint16_t* copy = malloc((size_t)len * sizeof(uint16_t) + sizeof(uint16_t));
    if (copy != NULL && len > 0) {
        memcpy(copy, units, (size_t)len * sizeof(uint16_t));
    }
    return copy;
}

static void free_call(call_record* call) {
    uint32_t i;
    for (i = 0; i < call->argc; ++i) {
        free((void*)call->args[i].str);
    }
    free(call->args);
    free(call->class_id);
}

static void forget_everything(void) {
    uint32_t i;
    for (i = 0; i < g_call_count; ++i) {
        free_call(&g_calls[i]);
    }
    free(g_calls);
    g_calls = NULL;
    g_call_count = g_call_capacity = 0;
    for (i = 0; i < g_script_count; ++i) {
        free(g_scripts[i].str);
    }
    free(g_scripts);
    g_scripts = NULL;
    g_script_count = 0;
    for (i = 0; i < g_caller_count; ++i) {
        free(g_callers[i].class_id);
        free(g_callers[i].origin);
    }
    free(g_callers);
    g_callers = NULL;
    g_caller_count = g_caller_capacity = 0;
    g_refuse_create = 0;
}

/* Nothing may stay allocated once the module is unloaded. */
__attribute__((destructor)) static void unload_module(void) {
    pthread_mutex_lock(&g_lock);
    forget_everything();
    pthread_mutex_unlock(&g_lock);
}

static int args_are_valid(const zqt_value* args, uint32_t argc) {
    uint32_t i;
    if (argc > 0 && args == NULL) {
        return 0;
    }
    for (i = 0; i < argc; ++i) {
        uint16_t vt = args[i].vt;
        if (vt != ZQT_VT_I4 && vt != ZQT_VT_UI4 && vt != ZQT_VT_BSTR) {
            return 0;
        }
        if (vt == ZQT_VT_BSTR && args[i].str == NULL && args[i].len > 0) {
            return 0;
        }
    }
    return 1;
}

/* Records one call; returns 0 when memory ran out. Caller holds g_lock. */
static int record_call(const zqt_control* control, int32_t dispid, const zqt_value* args,
                       uint32_t argc, uint16_t result_vt) {
    call_record call;
    uint32_t i;
    if (g_call_count == g_call_capacity) {
        uint32_t capacity = g_call_capacity ? g_call_capacity * 2 : 16;
        call_record* grown = realloc(g_calls, capacity * sizeof(call_record));
        if (grown == NULL) {
            return 0;
        }
        g_calls = grown;
        g_call_capacity = capacity;
    }
    memset(&call, 0, sizeof call);
    call.class_id = copy_text(control->class_id);
    call.dispid = dispid;
    call.result_vt = result_vt;
    call.args = calloc(argc ? argc : 1, sizeof(zqt_value));
    if (call.class_id == NULL || call.args == NULL) {
        free_call(&call);
        return 0;
    }
    for (i = 0; i < argc; ++i) {
        call.args[i] = args[i];
        call.args[i].str = NULL;
        if (args[i].vt == ZQT_VT_BSTR) {
            uint16_t* units = copy_units(args[i].str, args[i].len);
            if (units == NULL) {
                free_call(&call);
                return 0;
            }
            call.args[i].str = units;
        }
        call.argc = i + 1;
    }
    g_calls[g_call_count++] = call;
    return 1;
}

static const script_entry* find_script(int32_t dispid) {
    const script_entry* fallback = NULL;
    uint32_t i;
    for (i = 0; i < g_script_count; ++i) {
        if (g_scripts[i].dispid == dispid) {
            return &g_scripts[i];
        }
        if (g_scripts[i].dispid == kAnyDispid) {
            fallback = &g_scripts[i];
        }
    }
    return fallback;
}

/* Fills result from the script; returns what the invocation returns. */
static int32_t answer(zqt_control* control, const script_entry* script, zqt_value* result) {
    static const script_entry kDefault = {kAnyDispid, 0, 0, NULL, 0};
    if (script == NULL) {
        script = &kDefault;
    }
    if (script->invoke_rc != 0) {
        return script->invoke_rc;
    }
    if (result->vt == ZQT_VT_I4) {
        result->i4 = script->i4;
        return 0;
    }
    free(control->answer);
    control->answer = copy_units(script->str, script->len);
    if (control->answer == NULL) {
        return kBadCall;
    }
    result->str = control->answer;
    result->len = script->len;
    return 0;
}

ZQT_EXPORT uint32_t zqt_module_abi_version(void) {
    return ZQT_RECORDING_ABI_VERSION;
}

ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id) {
    zqt_control* control;
    int32_t refuse;
    pthread_mutex_lock(&g_lock);
    refuse = g_refuse_create;
    pthread_mutex_unlock(&g_lock);
    if (refuse || class_id == NULL) {
        return NULL;
    }
    control = calloc(1, sizeof *control);
    if (control == NULL) {
        return NULL;
    }
    control->class_id = copy_text(class_id);
    if (control->class_id == NULL) {
        free(control);
        return NULL;
    }
    return control;
}

ZQT_EXPORT void zqt_control_destroy(zqt_control* control) {
    if (control != NULL) {
        free(control->answer);
        free(control->class_id);
        free(control);
    }
}

ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result) {
    int32_t rc;
    if (control == NULL || result == NULL || !args_are_valid(args, argc)) {
        return kBadCall;
    }
    if (result->vt != ZQT_VT_I4 && result->vt != ZQT_VT_BSTR) {
        return kBadCall;
    }
    /* Outside the module's lock, so that overlapping callers are seen. */
    zqt_trace_enter(control->class_id, dispid, args, argc);
    pthread_mutex_lock(&g_lock);
    rc = record_call(control, dispid, args, argc, result->vt)
             ? answer(control, find_script(dispid), result)
             : kBadCall;
    pthread_mutex_unlock(&g_lock);
    zqt_trace_leave();
    return rc;
}

ZQT_EXPORT int zqt_control_set_caller(void* control, const uint16_t* origin, uint32_t length) {
    const zqt_control* made = control;
    caller_record record;
    caller_record* grown;
    if (made == NULL || (origin == NULL && length > 0)) {
        return kBadCall;
    }
    zqt_trace_caller(made->class_id, origin, length);
    record.class_id = copy_text(made->class_id);
    record.origin = copy_units(origin, length);
    record.len = length;
    pthread_mutex_lock(&g_lock);
    /* Doubling: a service under load records a caller per request. */
    grown = g_callers;
    if (g_caller_count == g_caller_capacity) {
        uint32_t capacity = g_caller_capacity ? g_caller_capacity * 2 : 16;
        grown = realloc(g_callers, capacity * sizeof(caller_record));
        if (grown != NULL) {
            g_callers = grown;
            g_caller_capacity = capacity;
        }
    }
    if (grown == NULL || record.class_id == NULL || record.origin == NULL) {
        pthread_mutex_unlock(&g_lock);
        free(record.class_id);
        free(record.origin);
        return kBadCall;
    }
    g_callers[g_caller_count++] = record;
    pthread_mutex_unlock(&g_lock);
    return 0;
}

uint32_t zqt_recording_caller_count(void) {
    uint32_t count;
    pthread_mutex_lock(&g_lock);
    count = g_caller_count;
    pthread_mutex_unlock(&g_lock);
    return count;
}

int32_t zqt_recording_caller(uint32_t index, const char** class_id, const uint16_t** origin,
                             uint32_t* length) {
    int32_t found = 0;
    pthread_mutex_lock(&g_lock);
    if (index < g_caller_count) {
        if (class_id != NULL) {
            *class_id = g_callers[index].class_id;
        }
        if (origin != NULL) {
            *origin = g_callers[index].origin;
        }
        if (length != NULL) {
            *length = g_callers[index].len;
        }
        found = 1;
    }
    pthread_mutex_unlock(&g_lock);
    return found;
}

void zqt_recording_reset(void) {
    pthread_mutex_lock(&g_lock);
    forget_everything();
    pthread_mutex_unlock(&g_lock);
}

void zqt_recording_script(int32_t dispid, int32_t invoke_rc, int32_t i4, const uint16_t* str,
                          uint32_t len) {
    script_entry entry;
    script_entry* slot = NULL;
    uint32_t i;
    entry.dispid = dispid;
    entry.invoke_rc = invoke_rc;
    entry.i4 = i4;
    entry.len = str != NULL ? len : 0;
    entry.str = copy_units(str, entry.len);
    if (entry.str == NULL) {
        return;
    }
    pthread_mutex_lock(&g_lock);
    for (i = 0; i < g_script_count; ++i) {
        if (g_scripts[i].dispid == dispid) {
            slot = &g_scripts[i];
            free(slot->str);
            break;
        }
    }
    if (slot == NULL) {
        script_entry* grown = realloc(g_scripts, (g_script_count + 1) * sizeof(script_entry));
        if (grown != NULL) {
            g_scripts = grown;
            slot = &g_scripts[g_script_count++];
        }
    }
    if (slot != NULL) {
        *slot = entry;
    } else {
        free(entry.str);
    }
    pthread_mutex_unlock(&g_lock);
}

void zqt_recording_refuse_create(int32_t refuse) {
    pthread_mutex_lock(&g_lock);
    g_refuse_create = refuse != 0;
    pthread_mutex_unlock(&g_lock);
}

uint32_t zqt_recording_call_count(void) {
    uint32_t count;
    pthread_mutex_lock(&g_lock);
    count = g_call_count;
    pthread_mutex_unlock(&g_lock);
    return count;
}

int32_t zqt_recording_call(uint32_t index, const char** class_id, int32_t* dispid,
                           uint16_t* result_vt, uint32_t* argc) {
    int32_t found = 0;
    pthread_mutex_lock(&g_lock);
    if (index < g_call_count) {
        const call_record* call = &g_calls[index];
        if (class_id != NULL) {
            *class_id = call->class_id;
        }
        if (dispid != NULL) {
            *dispid = call->dispid;
        }
        if (result_vt != NULL) {
            *result_vt = call->result_vt;
        }
        if (argc != NULL) {
            *argc = call->argc;
        }
        found = 1;
    }
    pthread_mutex_unlock(&g_lock);
    return found;
}

int32_t zqt_recording_arg(uint32_t index, uint32_t arg, zqt_value* out) {
    int32_t found = 0;
    pthread_mutex_lock(&g_lock);
    if (index < g_call_count && arg < g_calls[index].argc && out != NULL) {
        *out = g_calls[index].args[arg];
        found = 1;
    }
    pthread_mutex_unlock(&g_lock);
    return found;
}
