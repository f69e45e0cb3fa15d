#pragma once
// Keys, certificates and files for the crypto tests, and the openssl
// command line as the independent judge of what the code produced.

#include <gtest/gtest.h>

#include <string>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "support/TestPki.h"

namespace ref::test {

inline const TestPki& Pki() {
    return TestPki::Shared();
}

EvpPkeyPtr LoadPrivateKey(const TestIdentity& identity);
X509Ptr LoadCertificate(const TestIdentity& identity);
EvpPkeyPtr LoadPublicKey(const TestIdentity& identity);

// The same key as a legacy RSA / EC_KEY object, the way a token's key
// reaches OpenSSL (an SM2 key comes back as an EC_KEY on the SM2 curve).
EvpPkeyPtr AsLegacyKey(const TestIdentity& identity);

// The identity's key as a token would hand it over: the object holds the
// public half only and a custom RSA_METHOD / EC_KEY_METHOD does the private
// operations (here with the real key kept aside). On the SM2 curve it
// becomes a legacy SM2 key that OpenSSL 3.0 cannot sign with.
EvpPkeyPtr AsMethodKey(const TestIdentity& identity);

enum class KeyForm { kProvider, kLegacy, kToken };
EvpPkeyPtr KeyIn(const TestIdentity& identity, KeyForm form);

// A new provider key of type "EC" on the SM2 curve (3.0 makes one only by
// generation: its EC import refuses the SM2 curve).
EvpPkeyPtr NewPlainEcKeyOnSm2Curve();

// PEM public key file of a key.
std::string PublicKeyFile(EVP_PKEY* key);

// A new file in the scratch folder with these bytes; returns its path.
std::string WriteScratch(const std::string& name, ByteView bytes);
Bytes ReadBytes(const std::string& path);

// PEM public key file of the identity's certificate.
std::string PublicKeyFile(const TestIdentity& identity);

// Runs an openssl command line; true when it exits 0. output gets its text.
bool Openssl(const std::string& arguments, std::string* output = nullptr);

Bytes Sm3(ByteView data);

// Names a parameterised case after its "name" member.
struct CaseName {
    template <typename Param>
    std::string operator()(const testing::TestParamInfo<Param>& info) const {
        return info.param.name;
    }
};

}  // namespace ref::test
