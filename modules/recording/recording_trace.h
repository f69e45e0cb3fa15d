/* Optional trace of invocations to a file, for tests that drive the module
 * from another process (the end-to-end tests): ZQT_RECORDING_TRACE names the
 * file. ZQT_RECORDING_DELAY_MS makes every invocation last that long, and an
 * invocation that starts while another is running writes an OVERLAP line.
 * ZQT_RECORDING_SPAWN, a program with its arguments, is run before every
 * invocation (its output appended to ZQT_RECORDING_SPAWN_OUT), the way a
 * vendor module starts a helper process. ZQT_RECORDING_CALLER_TRACE names a
 * file of its own that gets a line "<class id> CALLER <origin>" for every
 * zqt_control_set_caller (the origin written as the BSTR arguments are), so
 * that the invocation trace stays as it was. */
#ifndef ZQT_RECORDING_TRACE_H
#define ZQT_RECORDING_TRACE_H

#include <stdint.h>

#include "zqtca/control_module.h"

void zqt_trace_enter(const char* class_id, int32_t dispid, const zqt_value* args, uint32_t argc);
void zqt_trace_leave(void);
void zqt_trace_caller(const char* class_id, const uint16_t* origin, uint32_t length);

#endif
