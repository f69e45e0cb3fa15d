// Signatures over data, checked by the openssl command line.

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/RawSignature.h"

namespace ref::test {
namespace {

const std::string kText = "signed \xE4\xB8\xAD\xE6\x96\x87 data\n";
const std::string kGmIdOption = "-pkeyopt distid:1234567812345678";

const char* CliHash(Hash hash) {
    switch (hash) {
        case Hash::kSha1:
            return "sha1";
        case Hash::kSha256:
            return "sha256";
        case Hash::kSha384:
            return "sha384";
        case Hash::kSha512:
            return "sha512";
        case Hash::kSm3:
            return "sm3";
    }
    return "";
}

// r || s back to DER with OpenSSL directly, so the oracle does not lean on
// the converter under test.
Bytes RsToDerForOracle(ByteView rs) {
    const int half = static_cast<int>(rs.size() / 2);
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), half, nullptr),
                   BN_bin2bn(rs.data() + half, half, nullptr));
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig, &der);
    Bytes out(der, der + length);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    return out;
}

struct SignCase {
    const char* name;
    TestIdentity TestPki::*identity;
    Hash hash;
    SigForm form;
    KeyForm keyForm;  // token keys come as legacy objects with their own methods
};

void PrintTo(const SignCase& c, std::ostream* os) {
    *os << c.name;
}

bool IsSm2(const SignCase& c) {
    return c.identity == &TestPki::sm2;
}

// What openssl says about a signature of kText by the case's key.
bool OracleAccepts(const SignCase& c, const Bytes& signature, bool withGmId = true) {
    const TestIdentity& who = Pki().*c.identity;
    const bool rs = c.form == SigForm::kRs && c.identity != &TestPki::rsa;
    const std::string sigFile = WriteScratch("sig", rs ? RsToDerForOracle(signature) : signature);
    const std::string dataFile = WriteScratch("data", AsBytes(kText));
    if (IsSm2(c)) {
        return Openssl("pkeyutl -verify -pubin -inkey " + PublicKeyFile(who) +
                       " -rawin -digest sm3 " + (withGmId ? kGmIdOption : "") + " -in " + dataFile +
                       " -sigfile " + sigFile);
    }
    return Openssl(std::string("dgst -") + CliHash(c.hash) + " -verify " + PublicKeyFile(who) +
                   " -signature " + sigFile + " " + dataFile);
}

class SignDataTest : public testing::TestWithParam<SignCase> {};

TEST_P(SignDataTest, OpensslAndOwnVerificationAcceptIt) {
    const SignCase& c = GetParam();
    const TestIdentity& who = Pki().*c.identity;
    EvpPkeyPtr key = KeyIn(who, c.keyForm);
    ASSERT_TRUE(key);

    const Bytes signature = SignData(key.get(), c.hash, AsBytes(kText), c.form);

    if (c.form == SigForm::kRs && c.identity != &TestPki::rsa) {
        EXPECT_EQ(signature.size(), 64u);
    }
    EXPECT_TRUE(OracleAccepts(c, signature));
    if (IsSm2(c)) {
        EXPECT_FALSE(OracleAccepts(c, signature, false)) << "signed with the empty id";
    }
    EvpPkeyPtr pub = LoadPublicKey(who);
    EXPECT_EQ(VerifyData(pub.get(), c.hash, AsBytes(kText), signature), kOk);
    EXPECT_EQ(VerifyData(pub.get(), c.hash, AsBytes(kText + "!"), signature), kBadSignature);
}

// SM2 signs a digest only as e = SM3(Z || M): Sm2SignDigestTest.
class SignDigestTest : public testing::TestWithParam<SignCase> {};

TEST_P(SignDigestTest, SignatureOfTheDigestIsOneOfTheData) {
    const SignCase& c = GetParam();
    const TestIdentity& who = Pki().*c.identity;
    EvpPkeyPtr key = KeyIn(who, c.keyForm);
    Bytes digest(HashSize(c.hash));
    unsigned int length = 0;
    EVP_Digest(kText.data(), kText.size(), digest.data(), &length, HashMd(c.hash), nullptr);

    const Bytes signature = SignDigest(key.get(), c.hash, digest, c.form);

    EXPECT_TRUE(OracleAccepts(c, signature));
}

constexpr SignCase kSignCases[] = {
    {"RsaSha1", &TestPki::rsa, Hash::kSha1, SigForm::kDer, KeyForm::kProvider},
    {"RsaSha256", &TestPki::rsa, Hash::kSha256, SigForm::kDer, KeyForm::kProvider},
    {"RsaSha384", &TestPki::rsa, Hash::kSha384, SigForm::kDer, KeyForm::kProvider},
    {"RsaSha512", &TestPki::rsa, Hash::kSha512, SigForm::kDer, KeyForm::kProvider},
    {"RsaSha256Legacy", &TestPki::rsa, Hash::kSha256, SigForm::kDer, KeyForm::kLegacy},
    {"RsaIgnoresRsForm", &TestPki::rsa, Hash::kSha256, SigForm::kRs, KeyForm::kProvider},
    {"EcSha256Der", &TestPki::ec, Hash::kSha256, SigForm::kDer, KeyForm::kProvider},
    {"EcSha256Rs", &TestPki::ec, Hash::kSha256, SigForm::kRs, KeyForm::kProvider},
    {"EcSha384Der", &TestPki::ec, Hash::kSha384, SigForm::kDer, KeyForm::kProvider},
    {"EcSha1Rs", &TestPki::ec, Hash::kSha1, SigForm::kRs, KeyForm::kProvider},
    {"EcSha512Der", &TestPki::ec, Hash::kSha512, SigForm::kDer, KeyForm::kProvider},
    {"EcSha256DerLegacy", &TestPki::ec, Hash::kSha256, SigForm::kDer, KeyForm::kLegacy},
    {"EcSha256RsLegacy", &TestPki::ec, Hash::kSha256, SigForm::kRs, KeyForm::kLegacy},
    {"RsaSha384Token", &TestPki::rsa, Hash::kSha384, SigForm::kDer, KeyForm::kToken},
    {"EcSha256DerToken", &TestPki::ec, Hash::kSha256, SigForm::kDer, KeyForm::kToken},
    {"EcSha512RsToken", &TestPki::ec, Hash::kSha512, SigForm::kRs, KeyForm::kToken},
    {"Sm2Der", &TestPki::sm2, Hash::kSm3, SigForm::kDer, KeyForm::kProvider},
    {"Sm2Rs", &TestPki::sm2, Hash::kSm3, SigForm::kRs, KeyForm::kProvider},
    {"Sm2IgnoresHashArgument", &TestPki::sm2, Hash::kSha256, SigForm::kDer, KeyForm::kProvider},
    {"Sm2DerLegacy", &TestPki::sm2, Hash::kSm3, SigForm::kDer, KeyForm::kLegacy},
    {"Sm2RsLegacy", &TestPki::sm2, Hash::kSm3, SigForm::kRs, KeyForm::kLegacy},
};

// The RSA and EC cases come first.
constexpr size_t kRsaAndEcCases = 16;
static_assert(kSignCases[kRsaAndEcCases - 1].identity != &TestPki::sm2 &&
              kSignCases[kRsaAndEcCases].identity == &TestPki::sm2);

INSTANTIATE_TEST_SUITE_P(Keys, SignDataTest, testing::ValuesIn(kSignCases), CaseName());
INSTANTIATE_TEST_SUITE_P(Keys, SignDigestTest,
                         testing::ValuesIn(kSignCases, kSignCases + kRsaAndEcCases), CaseName());

TEST(SignDataTest, PlainEcKeyOnTheSm2CurveSignsAsSm2) {
    EvpPkeyPtr plain = NewPlainEcKeyOnSm2Curve();
    ASSERT_TRUE(EVP_PKEY_is_a(plain.get(), "EC"));
    const Bytes signature = SignData(plain.get(), Hash::kSm3, AsBytes(kText), SigForm::kDer);

    const std::string command = "pkeyutl -verify -pubin -inkey " + PublicKeyFile(plain.get()) +
                                " -rawin -digest sm3 -in " + WriteScratch("data", AsBytes(kText)) +
                                " -sigfile " + WriteScratch("sig", signature);
    EXPECT_TRUE(Openssl(command + " " + kGmIdOption));
    EXPECT_FALSE(Openssl(command)) << "signed as ECDSA or with the empty id";
    EXPECT_EQ(VerifyData(plain.get(), Hash::kSm3, AsBytes(kText), signature), kOk);
}

TEST(SignDataTest, OtherKeyTypesAreRefused) {
    EvpPkeyPtr ed(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    try {
        SignData(ed.get(), Hash::kSha256, AsBytes(kText), SigForm::kDer);
        FAIL() << "signed with Ed25519";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), kKeyType);
    }
}

}  // namespace
}  // namespace ref::test
