// Verification of signatures the openssl command line made, and the codes
// for signatures that are wrong or cannot be signatures at all.

#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/RawSignature.h"

namespace ref::test {
namespace {

const std::string kText = "verify me";

Bytes CliSignature(const TestIdentity& who, const std::string& signArguments) {
    const std::string dataFile = WriteScratch("data", AsBytes(kText));
    const std::string sigFile = dataFile + ".sig";
    std::string output;
    EXPECT_TRUE(Openssl(signArguments + " " + ShellQuote(who.key) + " -out " + sigFile + " " +
                            (signArguments.rfind("pkeyutl", 0) == 0 ? "-in " : "") + dataFile,
                        &output))
        << output;
    return ReadBytes(sigFile);
}

struct CliCase {
    const char* name;
    TestIdentity TestPki::*identity;
    const char* signArguments;  // openssl command up to the key file
    Hash hashArgument;
    int32_t code;
};

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyCliSignatureTest : public testing::TestWithParam<CliCase> {};

TEST_P(VerifyCliSignatureTest, AnswersTheExpectedCode) {
    const CliCase& c = GetParam();
    const Bytes signature = CliSignature(Pki().*c.identity, c.signArguments);
    EvpPkeyPtr pub = LoadPublicKey(Pki().*c.identity);

    EXPECT_EQ(VerifyData(pub.get(), c.hashArgument, AsBytes(kText), signature), c.code);
}

constexpr CliCase kCliCases[] = {
    // RSA learns the hash from the signature, whatever the argument says.
    {"RsaSha256", &TestPki::rsa, "dgst -sha256 -sign", Hash::kSha256, kOk},
    {"RsaSha1ArgumentSha256", &TestPki::rsa, "dgst -sha1 -sign", Hash::kSha256, kOk},
    {"RsaSha384ArgumentSha1", &TestPki::rsa, "dgst -sha384 -sign", Hash::kSha1, kOk},
    {"RsaSha512ArgumentSm3", &TestPki::rsa, "dgst -sha512 -sign", Hash::kSm3, kOk},
    {"RsaMd5NotAccepted", &TestPki::rsa, "dgst -md5 -sign", Hash::kSha256, kBadSignature},
    {"EcSha384", &TestPki::ec, "dgst -sha384 -sign", Hash::kSha384, kOk},
    {"EcHashMismatch", &TestPki::ec, "dgst -sha384 -sign", Hash::kSha256, kBadSignature},
    {"Sm2GmId", &TestPki::sm2,
     "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:1234567812345678 -inkey", Hash::kSm3, kOk},
    // OpenSSL's default, the empty id, is not what GM/T 0009 signers use.
    {"Sm2EmptyIdRejected", &TestPki::sm2, "dgst -sm3 -sign", Hash::kSm3, kBadSignature},
    {"Sm2OtherIdRejected", &TestPki::sm2,
     "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:ALICE123@YAHOO.COM -inkey", Hash::kSm3,
     kBadSignature},
};

INSTANTIATE_TEST_SUITE_P(Cli, VerifyCliSignatureTest, testing::ValuesIn(kCliCases), CaseName());

TEST(VerifyDataTest, Sm2HonoursTheGivenId) {
    const Bytes emptyId = CliSignature(Pki().sm2, "dgst -sm3 -sign");
    const Bytes otherId = CliSignature(
        Pki().sm2, "pkeyutl -sign -rawin -digest sm3 -pkeyopt distid:ALICE123@YAHOO.COM -inkey");
    EvpPkeyPtr pub = LoadPublicKey(Pki().sm2);

    EXPECT_EQ(VerifyData(pub.get(), Hash::kSm3, AsBytes(kText), emptyId, ""), kOk);
    EXPECT_EQ(VerifyData(pub.get(), Hash::kSm3, AsBytes(kText), otherId, "ALICE123@YAHOO.COM"),
              kOk);
    EXPECT_EQ(VerifyData(pub.get(), Hash::kSm3, AsBytes(kText), otherId), kBadSignature);
}

struct BadCase {
    const char* name;
    TestIdentity TestPki::*identity;
    Bytes signature;
    int32_t code;
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << c.name;
}

class VerifyBadSignatureTest : public testing::TestWithParam<BadCase> {};

TEST_P(VerifyBadSignatureTest, AnswersTheExpectedCode) {
    const BadCase& c = GetParam();
    EvpPkeyPtr pub = LoadPublicKey(Pki().*c.identity);

    EXPECT_EQ(VerifyData(pub.get(), Hash::kSha256, AsBytes(kText), c.signature), c.code);
}

Bytes Pattern(size_t size, uint8_t first) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(first + i * 7);
    }
    return bytes;
}

const BadCase kBadCases[] = {
    {"RsaEmpty", &TestPki::rsa, {}, kMalformed},
    {"RsaLongerThanModulus", &TestPki::rsa, Pattern(257, 1), kMalformed},
    {"RsaBlockNotPkcs1", &TestPki::rsa, Pattern(256, 1), kBadSignature},
    {"EcEmpty", &TestPki::ec, {}, kMalformed},
    {"EcNeitherDerNorRs", &TestPki::ec, Pattern(10, 3), kMalformed},
    {"EcDerWithTrailingByte",
     &TestPki::ec,
     {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01, 0x00},
     kMalformed},
    {"EcWrongRs", &TestPki::ec, Pattern(64, 9), kBadSignature},
    {"EcValidDerWrongValues",
     &TestPki::ec,
     {0x30, 0x06, 0x02, 0x01, 0x01, 0x02, 0x01, 0x01},
     kBadSignature},
    {"Sm2RsOneShort", &TestPki::sm2, Pattern(63, 2), kMalformed},
    {"Sm2WrongRs", &TestPki::sm2, Pattern(64, 2), kBadSignature},
};

INSTANTIATE_TEST_SUITE_P(Bad, VerifyBadSignatureTest, testing::ValuesIn(kBadCases), CaseName());

}  // namespace
}  // namespace ref::test
