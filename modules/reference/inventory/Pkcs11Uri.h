#pragma once
// PKCS#11 URIs (RFC 7512) naming a token object: written for GetCertInfo,
// read when a page names a certificate by one.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/Bytes.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

// "pkcs11:model=..;manufacturer=..;serial=..;token=..;id=%01%02" with every
// character outside RFC 3986's unreserved set percent-encoded.
std::string MakePkcs11Uri(const TokenInfo& token, ByteView id);

// The path attributes of a "pkcs11:" URI (case-insensitive scheme), values
// percent-decoded; the query part is ignored. nullopt when not such a URI or
// malformed (a bad %XX, an attribute without '=', one given twice).
std::optional<std::map<std::string, std::string>> ParsePkcs11Uri(std::string_view uri);

bool IsPkcs11Uri(std::string_view text);

}  // namespace ref
