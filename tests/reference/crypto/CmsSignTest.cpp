// CMS SignedData made by CmsSign. RSA and EC are checked by openssl cms
// -verify. openssl 3.0's command line cannot verify SM2 CMS signed with the
// GM id (it has no way to pass the id to CMS_verify), so SM2 output is
// checked by our CmsVerify, by its printed structure, and by verifying the
// signed attributes' signature with openssl pkeyutl and the GM id.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/CryptoTestSupport.h"

namespace ref::test {
namespace {

const std::string kContent = "CMS content \xE4\xB8\xAD\n\x01\x02 binary tail";

struct CmsCase {
    const char* name;
    TestIdentity TestPki::*identity;
    Hash hash;
    bool detached;
    KeyForm keyForm;
};

void PrintTo(const CmsCase& c, std::ostream* os) {
    *os << c.name;
}

EvpPkeyPtr KeyOf(const CmsCase& c) {
    return KeyIn(Pki().*c.identity, c.keyForm);
}

Bytes SignCase(const CmsCase& c) {
    EvpPkeyPtr key = KeyOf(c);
    X509Ptr cert = LoadCertificate(Pki().*c.identity);
    return CmsSign(key.get(), cert.get(), nullptr, AsBytes(kContent), c.detached, c.hash);
}

std::string Print(const std::string& cmsFile) {
    std::string printed;
    EXPECT_TRUE(Openssl("cms -cmsout -print -inform DER -in " + cmsFile, &printed)) << printed;
    return printed;
}

// The SignerInfo part of the printed structure.
std::string SignerInfoPrint(const std::string& printed) {
    const size_t start = printed.find("signerInfos:");
    return start == std::string::npos ? std::string() : printed.substr(start);
}

class CmsSignRsaEcTest : public testing::TestWithParam<CmsCase> {};

TEST_P(CmsSignRsaEcTest, OpensslVerifiesItAndTheContent) {
    const CmsCase& c = GetParam();
    const std::string cmsFile = WriteScratch("sig.p7", SignCase(c));
    const std::string contentFile = WriteScratch("content", AsBytes(kContent));
    const std::string outFile = cmsFile + ".out";

    std::string output;
    EXPECT_TRUE(Openssl("cms -verify -binary -inform DER -in " + cmsFile + " -CAfile " +
                            Pki().rsaCa.cert + (c.detached ? " -content " + contentFile : "") +
                            " -out " + outFile,
                        &output))
        << output;
    EXPECT_EQ(ReadFileText(outFile), kContent);

    const std::string printed = Print(cmsFile);
    const std::string signer = SignerInfoPrint(printed);
    EXPECT_NE(signer.find("signingTime"), std::string::npos);
    std::string hashName = HashName(c.hash);
    std::transform(hashName.begin(), hashName.end(), hashName.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    EXPECT_NE(signer.find("algorithm: " + hashName + " ("), std::string::npos) << signer;
    EXPECT_EQ(printed.find("eContent: <ABSENT>") != std::string::npos, c.detached);
}

INSTANTIATE_TEST_SUITE_P(
    Signers, CmsSignRsaEcTest,
    testing::Values(
        CmsCase{"RsaAttached", &TestPki::rsa, Hash::kSha256, false, KeyForm::kProvider},
        CmsCase{"RsaDetached", &TestPki::rsa, Hash::kSha256, true, KeyForm::kProvider},
        CmsCase{"RsaSha384Detached", &TestPki::rsa, Hash::kSha384, true, KeyForm::kProvider},
        CmsCase{"RsaLegacyAttached", &TestPki::rsa, Hash::kSha256, false, KeyForm::kLegacy},
        CmsCase{"EcAttached", &TestPki::ec, Hash::kSha256, false, KeyForm::kProvider},
        CmsCase{"EcSha384Detached", &TestPki::ec, Hash::kSha384, true, KeyForm::kProvider},
        CmsCase{"EcLegacyDetached", &TestPki::ec, Hash::kSha256, true, KeyForm::kLegacy},
        CmsCase{"RsaTokenAttached", &TestPki::rsa, Hash::kSha256, false, KeyForm::kToken},
        CmsCase{"RsaTokenDetached", &TestPki::rsa, Hash::kSha512, true, KeyForm::kToken},
        CmsCase{"EcTokenAttached", &TestPki::ec, Hash::kSha384, false, KeyForm::kToken}),
    CaseName());

// One line of `openssl asn1parse` output.
struct Asn1Item {
    size_t offset = 0, header = 0, length = 0;
    int depth = 0;
    std::string rest;
};

std::vector<Asn1Item> Asn1Parse(const std::string& file) {
    std::string output;
    EXPECT_TRUE(Openssl("asn1parse -inform DER -in " + file, &output)) << output;
    std::vector<Asn1Item> items;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        Asn1Item item;
        // "  567:d=5  hl=3 l= 228 cons: cont [ 0 ]"
        int consumed = 0;
        if (std::sscanf(line.c_str(), " %zu:d=%d hl=%zu l=%zu %n", &item.offset, &item.depth,
                        &item.header, &item.length, &consumed) != 4) {
            continue;
        }
        item.rest = line.substr(static_cast<size_t>(consumed));
        items.push_back(item);
    }
    return items;
}

// Verifies the SM2 SignerInfo with nothing of ours: the signed attributes
// as a SET, their signature with the GM id, and their messageDigest.
void IndependentlyCheckSm2Signer(const std::string& cmsFile, const TestIdentity& who) {
    const Bytes cms = ReadBytes(cmsFile);
    const Asn1Item* attributes = nullptr;
    const Asn1Item* signature = nullptr;
    std::string messageDigest;
    const std::vector<Asn1Item> items = Asn1Parse(cmsFile);
    for (size_t i = 0; i < items.size(); ++i) {
        const Asn1Item& item = items[i];
        if (item.depth == 5 && item.rest.find("cons: cont [ 0 ]") != std::string::npos) {
            attributes = &item;
        }
        if (item.depth == 5 && item.rest.find("prim: OCTET STRING") != std::string::npos) {
            signature = &item;
        }
        if (item.rest.find(":messageDigest") != std::string::npos && i + 2 < items.size()) {
            const std::string& value = items[i + 2].rest;
            messageDigest = value.substr(value.find("[HEX DUMP]:") + 11);
        }
    }
    ASSERT_NE(attributes, nullptr);
    ASSERT_NE(signature, nullptr);
    Bytes signedSet(cms.begin() + attributes->offset,
                    cms.begin() + attributes->offset + attributes->header + attributes->length);
    signedSet[0] = 0x31;  // [0] IMPLICIT becomes the SET that was signed
    const Bytes signatureDer(
        cms.begin() + signature->offset + signature->header,
        cms.begin() + signature->offset + signature->header + signature->length);

    const std::string command = "pkeyutl -verify -pubin -inkey " + PublicKeyFile(who) +
                                " -rawin -digest sm3 -in " + WriteScratch("attrs", signedSet) +
                                " -sigfile " + WriteScratch("attrsig", signatureDer);
    EXPECT_TRUE(Openssl(command + " -pkeyopt distid:1234567812345678"));
    EXPECT_FALSE(Openssl(command)) << "the attributes were signed with the empty id";
    EXPECT_EQ(messageDigest, HexEncode(Sm3(AsBytes(kContent))));
}

class CmsSignSm2Test : public testing::TestWithParam<CmsCase> {};

TEST_P(CmsSignSm2Test, VerifiesAndCarriesSm2WithSm3AndTheGmId) {
    const CmsCase& c = GetParam();
    const Bytes der = SignCase(c);
    const std::string cmsFile = WriteScratch("sm2.p7", der);

    Config config;
    config.systemTrustFile.clear();
    config.trustDir = Pki().TrustDir();
    TrustStore trust(config);
    const Bytes content(kContent.begin(), kContent.end());
    CmsVerification verified = CmsVerify(der, c.detached ? &content : nullptr, trust, true);
    EXPECT_EQ(verified.code, kOk) << verified.message;
    EXPECT_EQ(verified.content, content);

    const std::string signer = SignerInfoPrint(Print(cmsFile));
    const size_t algorithm = signer.find("signatureAlgorithm:");
    ASSERT_NE(algorithm, std::string::npos);
    EXPECT_NE(signer.find("(1.2.156.10197.1.501)", algorithm), std::string::npos);
    EXPECT_NE(signer.find("sm3 (1.2.156.10197.1.401)"), std::string::npos);
    EXPECT_NE(signer.find("signingTime"), std::string::npos);
    IndependentlyCheckSm2Signer(cmsFile, Pki().*c.identity);
}

INSTANTIATE_TEST_SUITE_P(
    Signers, CmsSignSm2Test,
    testing::Values(
        CmsCase{"Attached", &TestPki::sm2, Hash::kSm3, false, KeyForm::kProvider},
        CmsCase{"Detached", &TestPki::sm2, Hash::kSm3, true, KeyForm::kProvider},
        CmsCase{"HashArgumentIgnored", &TestPki::sm2, Hash::kSha256, false, KeyForm::kProvider},
        CmsCase{"LegacyKeyDetached", &TestPki::sm2, Hash::kSm3, true, KeyForm::kLegacy}),
    CaseName());

int32_t SignCode(const TestIdentity& keyOf, EVP_PKEY* key, const TestIdentity& certOf) {
    EvpPkeyPtr loaded = key == nullptr ? LoadPrivateKey(keyOf) : nullptr;
    X509Ptr cert = LoadCertificate(certOf);
    try {
        CmsSign(key ? key : loaded.get(), cert.get(), nullptr, AsBytes(kContent), false,
                Hash::kSha256);
    } catch (const Failure& failure) {
        return failure.code();
    }
    return kOk;
}

TEST(CmsSignTest, RefusesKeysThatDoNotFit) {
    EXPECT_EQ(SignCode(Pki().ec, nullptr, Pki().rsa), kNoKey);
    EXPECT_EQ(SignCode(Pki().rsa, nullptr, Pki().untrusted), kNoKey);
    EXPECT_EQ(SignCode(Pki().sm2Ca, nullptr, Pki().sm2), kNoKey);
    EvpPkeyPtr ed(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    EXPECT_EQ(SignCode(Pki().rsa, ed.get(), Pki().rsa), kKeyType);
}

// SM2 CMS with a key whose private half stays on a token: OpenSSL 3.0's
// SM2 code reads the private key itself, so this is refused, not crashed.
TEST(CmsSignTest, Sm2TokenKeyIsRefusedCleanly) {
    EvpPkeyPtr token = AsMethodKey(Pki().sm2);
    X509Ptr cert = LoadCertificate(Pki().sm2);
    try {
        CmsSign(token.get(), cert.get(), nullptr, AsBytes(kContent), false, Hash::kSm3);
        FAIL() << "signed";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), kUnsupported) << failure.what();
    }
}

TEST(CmsSignTest, SignsEmptyContent) {
    EvpPkeyPtr key = LoadPrivateKey(Pki().rsa);
    X509Ptr cert = LoadCertificate(Pki().rsa);
    const std::string cmsFile =
        WriteScratch("empty.p7", CmsSign(key.get(), cert.get(), nullptr, {}, false, Hash::kSha256));
    std::string output;
    EXPECT_TRUE(Openssl("cms -verify -binary -inform DER -in " + cmsFile + " -CAfile " +
                            Pki().rsaCa.cert + " -out " + cmsFile + ".out",
                        &output))
        << output;
    EXPECT_EQ(ReadFileText(cmsFile + ".out"), "");
}

}  // namespace
}  // namespace ref::test
