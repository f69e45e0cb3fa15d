/* The C interface of a control module: a shared library that makes controls
 * by class id and runs their methods by dispatch id with typed arguments.
 * The host loads the library, checks zqt_module_abi_version(), creates one
 * control with zqt_control_create(), invokes it any number of times and
 * destroys it with zqt_control_destroy() before it unloads the library.
 * Plain C99 so that any maker can build a module. */
#ifndef ZQTCA_CONTROL_MODULE_H
#define ZQTCA_CONTROL_MODULE_H

#include <stdint.h>

/* Marks an entry point for export; modules are usually built with hidden
 * visibility, so every entry point a host looks up needs it. */
#ifndef ZQT_EXPORT
#if defined(__GNUC__) || defined(__clang__)
#define ZQT_EXPORT __attribute__((visibility("default")))
#else
#define ZQT_EXPORT
#endif
#endif

#define ZQT_CONTROL_ABI_VERSION 1u
#define ZQT_VT_I4 0x03u   /* signed 32-bit integer */
#define ZQT_VT_BSTR 0x08u /* string of UTF-16 code units */
#define ZQT_VT_UI4 0x13u  /* unsigned 32-bit integer */

#ifdef __cplusplus
extern "C" {
#endif

/* One argument or result. Only the member named by vt is meaningful. For a
 * string, str points at len code units owned by whoever filled the value; it
 * is not NUL-terminated and may be NULL only when len is 0. */
typedef struct zqt_value {
    uint16_t vt;         /* one of ZQT_VT_* */
    int32_t i4;          /* ZQT_VT_I4 */
    uint32_t ui4;        /* ZQT_VT_UI4 */
    const uint16_t* str; /* ZQT_VT_BSTR: code units, not NUL-terminated */
    uint32_t len;        /* ZQT_VT_BSTR: number of code units */
} zqt_value;

/* A control made by a module; opaque to the host and owned by the module
 * until zqt_control_destroy() is called on it. */
typedef struct zqt_control zqt_control;

/* The interface version the module was built for: ZQT_CONTROL_ABI_VERSION.
 * A host does not use a module that reports another number. */
ZQT_EXPORT uint32_t zqt_module_abi_version(void);

/* Makes the control registered under class_id (a NUL-terminated name the
 * module need not keep). Returns NULL when this module cannot make it. */
ZQT_EXPORT zqt_control* zqt_control_create(const char* class_id);

/* Destroys a control made by zqt_control_create(); it is not used again. */
ZQT_EXPORT void zqt_control_destroy(zqt_control* control);

/* Runs method dispid with argc arguments (args may be NULL when argc is 0).
 * The caller sets result->vt to the type it expects (ZQT_VT_I4 or
 * ZQT_VT_BSTR) and zeroes the rest; the module fills the matching member and
 * leaves vt as it was. A returned string stays valid until the next call on
 * the same control; the host copies it at once. Returns 0 when the method
 * ran; any other value means the invocation itself failed (unknown dispatch
 * id, wrong arguments, internal error) and the result is not used. */
ZQT_EXPORT int32_t zqt_control_invoke(zqt_control* control, int32_t dispid, const zqt_value* args,
                                      uint32_t argc, zqt_value* result);

/* Optional. Tells the control who is asking: the origin of the web page
 * (its "Origin" header, "https://bank.example"), as length UTF-16 code
 * units, not NUL-terminated; length 0 (origin may then be NULL) when the
 * request named none. The host resolves it once when it loads the module
 * and calls it, under the lock that lets one request run at a time, before
 * each request text runs; the caller stays the same for every invocation
 * of that request. The text is the page's own: show it, never trust it.
 * The module copies what it keeps. The return value is not used (0 for
 * success). Modules without this export keep working; they are simply not
 * told. */
ZQT_EXPORT int zqt_control_set_caller(void* control, const uint16_t* origin, uint32_t length);

/* The entry points as the host resolves them by name. */
typedef uint32_t (*zqt_module_abi_version_fn)(void);
typedef zqt_control* (*zqt_control_create_fn)(const char* class_id);
typedef void (*zqt_control_destroy_fn)(zqt_control* control);
typedef int32_t (*zqt_control_invoke_fn)(zqt_control* control, int32_t dispid,
                                         const zqt_value* args, uint32_t argc, zqt_value* result);
typedef int (*zqt_control_set_caller_fn)(void* control, const uint16_t* origin, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif
