/* Inspection interface of the probe control module (lib/probe/libprobectrl.so),
 * a test double for the host's side of the module interface: it counts the
 * controls made and destroyed, and misbehaves on request through the class
 * id it is asked to make:
 *   "probe.wrong-type"   answers with the other result type than asked;
 *   "probe.null-string"  answers a string call with a NULL pointer and length 3;
 *   any other id         answers 7 to a number call and "ok" to a string call.
 * lib/probe-badabi/libprobectrl.so is the same module reporting another
 * interface version. */
#ifndef ZQT_PROBE_CONTROL_H
#define ZQT_PROBE_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Controls made and destroyed since the module was loaded. */
uint32_t zqt_probe_created(void);
uint32_t zqt_probe_destroyed(void);

/* Destroy calls on a pointer that is not a live control of this module. */
uint32_t zqt_probe_foreign_destroys(void);

#ifdef __cplusplus
}
#endif

#endif
