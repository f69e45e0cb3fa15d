#pragma once
// What selection and GetCertInfo read from a certificate, in the text forms
// both of them use.

#include <cstdint>
#include <string>

#include "core/Bytes.h"
#include "core/Ossl.h"

namespace ref {

// RFC 4514 form, most specific RDN first, UTF-8 (non-ASCII not escaped).
std::string NameText(const X509_NAME* name);
// The subject's (most specific) common name, UTF-8; "" when it has none.
std::string CommonName(X509* cert);

// Upper-case hex of the serial number's value, as `openssl x509 -serial`
// prints it ("-" in front of a negative one).
std::string SerialText(X509* cert);

// "RSA", "EC" or "SM2" (an EC key on the SM2 curve counts as SM2), else
// OpenSSL's name of the key type.
std::string KeyAlgorithm(X509* cert);
int KeyBits(X509* cert);

// The keyUsage bits (KU_*), or kAnyKeyUsage (every bit) when the
// certificate has no keyUsage extension.
inline constexpr uint32_t kAnyKeyUsage = UINT32_MAX;
uint32_t KeyUsageBits(X509* cert);
// "digitalSignature,nonRepudiation,..." in the order of the extension's bits;
// "" when the certificate has no keyUsage extension.
std::string KeyUsageText(X509* cert);
bool UsableForSigning(X509* cert);
bool UsableForEncryption(X509* cert);

// ISO 8601 UTC, e.g. "2026-12-09T15:57:00Z"; "" when unreadable.
std::string TimeText(const ASN1_TIME* time);
// Whether now lies within notBefore..notAfter.
bool ValidNow(X509* cert);

Bytes Digest(ByteView der, const EVP_MD* md);

// OpenSSL's long name of the signature algorithm, or its OID in dotted form.
std::string SignatureAlgorithm(X509* cert);

}  // namespace ref
