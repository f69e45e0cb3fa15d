/* Scripting and inspection interface of the recording control module, a test
 * double built twice: as libulvoctrl.so and as libulvocertenroll.so (in
 * lib/recording/). It makes a control for any class id, records every
 * invocation and answers with scripted results. Tests reach these functions
 * with dlopen of the same file name (which returns the handle the wrapper
 * loaded) and dlsym. */
#ifndef ZQT_RECORDING_CONTROL_H
#define ZQT_RECORDING_CONTROL_H

#include <stdint.h>

#include "zqtca/control_module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Forgets every recorded call and every scripted answer. */
void zqt_recording_reset(void);

/* The answer to every later invocation of dispid (-1: of any dispid without an
 * answer of its own): invoke_rc is what zqt_control_invoke returns (non-zero
 * makes the invocation fail), i4 the I4 result, str/len the BSTR result
 * (copied). Without a script an invocation returns 0 with I4 0 and BSTR "". */
void zqt_recording_script(int32_t dispid, int32_t invoke_rc, int32_t i4, const uint16_t* str,
                          uint32_t len);

/* Makes zqt_control_create return NULL for every class id (1) or not (0). */
void zqt_recording_refuse_create(int32_t refuse);

/* The number of calls recorded since the last reset. */
uint32_t zqt_recording_call_count(void);

/* Call `index`: the class id its control was made with, its dispid, the
 * result type the caller asked for, and its argument count. Returns 0 when
 * there is no such call. Strings stay valid until the next reset. */
int32_t zqt_recording_call(uint32_t index, const char** class_id, int32_t* dispid,
                           uint16_t* result_vt, uint32_t* argc);

/* Argument `arg` of call `index`, with its string copied by the module.
 * Returns 0 when there is no such argument. */
int32_t zqt_recording_arg(uint32_t index, uint32_t arg, zqt_value* out);

/* The number of zqt_control_set_caller calls since the last reset, and call
 * `index`: its control's class id and the origin it was given (length code
 * units, not NUL-terminated). Returns 0 when there is no such call. Strings
 * stay valid until the next reset. */
uint32_t zqt_recording_caller_count(void);
int32_t zqt_recording_caller(uint32_t index, const char** class_id, const uint16_t** origin,
                             uint32_t* length);

#ifdef __cplusplus
}
#endif

#endif
