#pragma once
// What the methods share: flags, input data, certificate choice, results.

#include <cstdint>
#include <string>
#include <string_view>

#include "control/MainControl.h"
#include "control/MethodArgs.h"
#include "core/Bytes.h"
#include "crypto/Algorithms.h"
#include "inventory/CertEntry.h"

namespace ref {

// Bits of the flags parameter of the Ex methods.
enum Flag : uint32_t {
    kFlagBase64Input = 1,   // the data parameter is Base64 of binary data
    kFlagGb18030 = 2,       // text is encoded as GB18030 instead of UTF-8
    kFlagBinaryOutput = 4,  // content is given back as Base64
    kFlagRawRs = 8,         // EC/SM2 signatures as fixed-length r || s
    kFlagNoChain = 16,      // verification skips the trust check
};

// A decimal flags text ("" is 0); kBadParam for anything else or unknown bits.
uint32_t ParseFlags(std::string_view text);

// The bytes a data parameter stands for under the flags.
Bytes InputData(const MethodArgs& args, uint32_t index, uint32_t flags);

// A Base64 parameter (a signature, a CMS message); kMalformed when it is not
// Base64 or is empty.
Bytes DecodeParam(const std::string& text, const char* what);

// The certificate a private-key method uses (sel as pages give it).
CertEntry ChooseSigner(MainControl& control, const std::string& sel);

// The certificate a verification uses.
X509Shared ChooseCertificate(MainControl& control, const std::string& sel);

KeyKind CertificateKind(X509* cert);

// kKeyType unless the certificate's key is SM2.
void RequireSm2(X509* cert);

// Whether the signer certificate may be relied on now: throws kExpired or
// kUntrusted (the chain check is skipped with kFlagNoChain).
void CheckSignerCertificate(MainControl& control, X509* cert, uint32_t flags);

// The hash a signature with this key uses: SM3 for SM2 keys, else the one
// SetAlgorithm chose (kKeyType when that is SM3).
Hash SigningHash(const MainControl& control, X509* cert);

// Result text of a binary result.
inline std::string Base64Result(const Bytes& bytes) {
    return Base64Encode(bytes);
}

}  // namespace ref
