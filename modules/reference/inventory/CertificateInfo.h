#pragma once
// The items GetCertInfo answers about one certificate.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Ossl.h"
#include "inventory/CertEntry.h"

namespace ref {

// Item 1..16 of a held certificate: 1 Base64 DER, 2 serial (upper-case hex),
// 3 subject DN, 4 issuer DN (RFC 4514, UTF-8), 5 notBefore, 6 notAfter
// (ISO 8601 UTC), 7 subject CN, 8 key algorithm, 9 key bits, 10 key usage
// (comma list), 11 SHA-1, 12 SHA-256 (upper-case hex), 13 signature
// algorithm, 14 token serial, 15 PKCS#11 URI (both "" for the software
// store), 16 all of them as one JSON object. Throws Failure(kBadParam) for
// any other item.
std::string CertificateInfoItem(const CertEntry& entry, int32_t item);

// The same for a certificate given by value (not on a token).
std::string CertificateInfoItem(X509* cert, int32_t item);

// A JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

}  // namespace ref
