/* The C interface of the certificate-and-seal list library, a shared library
 * named ZQT_CERT_SEAL_LIST_LIBRARY that lists the certificates and seals on
 * the attached USB keys. The host loads it for each read and unloads it
 * afterwards, so an export must not rely on state kept between reads.
 *
 * Buffer protocol, the same for both exports: called with NULL, an export
 * returns the size in bytes the list needs, its terminating NUL included;
 * called with a buffer of that size (owned by the caller), it writes the list
 * as NUL-terminated text in the character set of the process locale. The
 * result of the second call is not used. A first result of 0 or less means
 * there is no list. */
#ifndef ZQTCA_CERT_SEAL_LIST_H
#define ZQTCA_CERT_SEAL_LIST_H

#include <stdint.h>

#ifndef ZQT_EXPORT
#if defined(__GNUC__) || defined(__clang__)
#define ZQT_EXPORT __attribute__((visibility("default")))
#else
#define ZQT_EXPORT
#endif
#endif

#define ZQT_CERT_SEAL_LIST_LIBRARY "libULVO_LIB_client.so"
#define ZQT_CERT_SEAL_LIST_EXPORT "GetCertAndSeallist"
#define ZQT_CERT_SEAL_LIST_XEPA_EXPORT "GetCertAndSeallistXEPA"

#ifdef __cplusplus
extern "C" {
#endif

/* The list of certificates and seals, by the buffer protocol above. */
ZQT_EXPORT int32_t GetCertAndSeallist(char* buffer);

/* The same list in its XEPA form, by the buffer protocol above. */
ZQT_EXPORT int32_t GetCertAndSeallistXEPA(char* buffer);

/* Either export as the host resolves it by name. */
typedef int32_t (*zqt_cert_seal_list_fn)(char* buffer);

#ifdef __cplusplus
}
#endif

#endif
