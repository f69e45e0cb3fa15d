// Signing ready digests: the length and key checks, and SM2's e computed
// here from the curve parameters as GB/T 32918 defines Z.

#include <gtest/gtest.h>
#include <openssl/core_names.h>

#include <functional>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/RawSignature.h"

namespace ref::test {
namespace {

int32_t CodeOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const Failure& failure) {
        return failure.code();
    }
    return kOk;
}

struct DigestCase {
    const char* name;
    TestIdentity TestPki::*identity;
    KeyForm keyForm;
    Hash hash;
    size_t digestLength;
    int32_t code;
};

void PrintTo(const DigestCase& c, std::ostream* os) {
    *os << c.name;
}

class SignDigestCodeTest : public testing::TestWithParam<DigestCase> {};

TEST_P(SignDigestCodeTest, RefusesWhatDoesNotFit) {
    const DigestCase& c = GetParam();
    EvpPkeyPtr key = KeyIn(Pki().*c.identity, c.keyForm);
    const Bytes digest(c.digestLength, 0x5A);

    EXPECT_EQ(CodeOf([&] { SignDigest(key.get(), c.hash, digest, SigForm::kDer); }), c.code);
}

constexpr DigestCase kDigestCases[] = {
    {"RsaSha256Fits", &TestPki::rsa, KeyForm::kProvider, Hash::kSha256, 32, kOk},
    {"RsaSha256ShortByOne", &TestPki::rsa, KeyForm::kProvider, Hash::kSha256, 31, kBadParam},
    {"RsaSha1GivenAsSha256", &TestPki::rsa, KeyForm::kProvider, Hash::kSha256, 20, kBadParam},
    {"RsaSha512TooLong", &TestPki::rsa, KeyForm::kProvider, Hash::kSha512, 65, kBadParam},
    {"RsaEmptyToken", &TestPki::rsa, KeyForm::kToken, Hash::kSha1, 0, kBadParam},
    {"EcTokenSha384ShortByOne", &TestPki::ec, KeyForm::kToken, Hash::kSha384, 47, kBadParam},
    {"EcLegacySha256Long", &TestPki::ec, KeyForm::kLegacy, Hash::kSha256, 33, kBadParam},
    {"Sm2Key", &TestPki::sm2, KeyForm::kProvider, Hash::kSm3, 32, kKeyType},
    {"Sm2LegacyKey", &TestPki::sm2, KeyForm::kLegacy, Hash::kSha256, 32, kKeyType},
};

INSTANTIATE_TEST_SUITE_P(Cases, SignDigestCodeTest, testing::ValuesIn(kDigestCases), CaseName());

Bytes Hex(const char* text) {
    std::optional<Bytes> bytes = HexDecode(text);
    if (!bytes) {
        throw std::invalid_argument(std::string("bad hex in the test: ") + text);
    }
    return *bytes;
}

// Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA) on the SM2 curve.
Bytes Sm2Z(EVP_PKEY* publicKey, const std::string& id) {
    Bytes point(65);
    size_t length = 0;
    EVP_PKEY_get_octet_string_param(publicKey, OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size(),
                                    &length);
    EXPECT_EQ(length, 65u);
    EXPECT_EQ(point[0], 0x04);
    const size_t bits = id.size() * 8;
    Bytes input = {static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits & 0xFF)};
    input.insert(input.end(), id.begin(), id.end());
    for (const char* constant :
         {"FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC",
          "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93",
          "32C4AE2C1F1981195F9904466A39C9948FE30BBFF2660BE1715A4589334C74C7",
          "BC3736A2F4F6779C59BDCEE36B692153D0A9877CC62A474002DF32E52139F0A0"}) {
        const Bytes value = Hex(constant);
        input.insert(input.end(), value.begin(), value.end());
    }
    input.insert(input.end(), point.begin() + 1, point.end());
    return Sm3(input);
}

TEST(Sm2SignDigestTest, SignatureOfOwnEVerifiesAsSm2OverTheMessage) {
    const std::string message = "message digest";
    EvpPkeyPtr pub = LoadPublicKey(Pki().sm2);
    Bytes zm = Sm2Z(pub.get(), "1234567812345678");
    zm.insert(zm.end(), message.begin(), message.end());
    const Bytes e = Sm3(zm);

    for (bool legacy : {false, true}) {
        EvpPkeyPtr key = legacy ? AsLegacyKey(Pki().sm2) : LoadPrivateKey(Pki().sm2);
        const Bytes rs = Sm2SignDigest(key.get(), e);
        ASSERT_EQ(rs.size(), 64u);

        const std::string sigFile = WriteScratch("sig", EcRsToDer(rs));
        const std::string dataFile = WriteScratch("msg", AsBytes(message));
        EXPECT_TRUE(Openssl("pkeyutl -verify -pubin -inkey " + PublicKeyFile(Pki().sm2) +
                            " -rawin -digest sm3 -pkeyopt distid:1234567812345678 -in " + dataFile +
                            " -sigfile " + sigFile))
            << (legacy ? "legacy key" : "provider key");
        EXPECT_EQ(VerifyData(pub.get(), Hash::kSm3, AsBytes(message), rs), kOk);
    }
}

TEST(Sm2SignDigestTest, RefusesWrongLengthAndOtherKeys) {
    EvpPkeyPtr sm2 = LoadPrivateKey(Pki().sm2);
    EvpPkeyPtr rsa = LoadPrivateKey(Pki().rsa);
    EvpPkeyPtr ec = LoadPrivateKey(Pki().ec);

    EXPECT_EQ(CodeOf([&] { Sm2SignDigest(sm2.get(), Bytes(31, 1)); }), kBadParam);
    EXPECT_EQ(CodeOf([&] { Sm2SignDigest(sm2.get(), Bytes(33, 1)); }), kBadParam);
    EXPECT_EQ(CodeOf([&] { Sm2SignDigest(rsa.get(), Bytes(32, 1)); }), kKeyType);
    EXPECT_EQ(CodeOf([&] { Sm2SignDigest(ec.get(), Bytes(32, 1)); }), kKeyType);
}

}  // namespace
}  // namespace ref::test
