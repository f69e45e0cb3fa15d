// CmsVerify on SignedData made by the openssl command line and by CmsSign,
// intact and damaged.

#include <gtest/gtest.h>
#include <openssl/objects.h>

#include <algorithm>
#include <functional>

#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/Sm2Cms.h"

namespace ref::test {
namespace {

const std::string kContent = "signed content, \xE4\xB8\xAD\xE6\x96\x87\n";
const Bytes kContentBytes(kContent.begin(), kContent.end());

Config TrustConfig() {
    Config config;
    config.systemTrustFile.clear();
    config.trustDir = Pki().TrustDir();
    return config;
}

// SignedData by `openssl cms -sign`; options e.g. "-nodetach -md sha512".
Bytes CliSigned(const TestIdentity& who, const std::string& options) {
    const std::string contentFile = WriteScratch("content", AsBytes(kContent));
    const std::string out = contentFile + ".p7";
    std::string output;
    EXPECT_TRUE(Openssl("cms -sign -binary -outform DER -signer " + who.cert + " -inkey " +
                            who.key + " " + options + " -in " + contentFile + " -out " + out,
                        &output))
        << output;
    return ReadBytes(out);
}

Bytes OwnSigned(const TestIdentity& who, bool detached) {
    EvpPkeyPtr key = LoadPrivateKey(who);
    X509Ptr cert = LoadCertificate(who);
    return CmsSign(key.get(), cert.get(), nullptr, kContentBytes, detached, Hash::kSha256);
}

// An SM2 SignedData made the way CmsSign makes it, with a chosen id and
// signature algorithm OID.
Bytes Sm2Signed(std::string_view id, const char* signatureOid, bool detached) {
    EvpPkeyPtr key = LoadPrivateKey(Pki().sm2);
    X509Ptr cert = LoadCertificate(Pki().sm2);
    const unsigned int flags = CMS_BINARY | (detached ? CMS_DETACHED : 0u);
    BioPtr data = MemoryBio(kContentBytes);
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, data.get(), flags | CMS_PARTIAL));
    CMS_SignerInfo* info = AddSm2Signer(cms.get(), cert.get(), key.get(), flags, id);
    X509_ALGOR* algorithm = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, nullptr, &algorithm);
    X509_ALGOR_set0(algorithm, OBJ_txt2obj(signatureOid, 1), V_ASN1_UNDEF, nullptr);
    EXPECT_EQ(CMS_final(cms.get(), data.get(), nullptr, flags), 1);
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms.get(), &der);
    Bytes out(der, der + std::max(length, 0));
    OPENSSL_free(der);
    return out;
}

Bytes Flipped(Bytes bytes, size_t index) {
    bytes.at(index) ^= 0x01;
    return bytes;
}

// The content bytes inside an attached SignedData, changed.
Bytes ContentTampered(Bytes cms) {
    auto at = std::search(cms.begin(), cms.end(), kContentBytes.begin(), kContentBytes.end());
    EXPECT_NE(at, cms.end());
    *at ^= 0x20;
    return cms;
}

struct VerifyCase {
    const char* name;
    std::function<Bytes()> make;
    std::optional<std::string> detachedContent;  // nullopt: verified as attached
    bool checkChain;
    int32_t code;
};

void PrintTo(const VerifyCase& c, std::ostream* os) {
    *os << c.name;
}

class CmsVerifyTest : public testing::TestWithParam<VerifyCase> {};

TEST_P(CmsVerifyTest, AnswersTheExpectedCode) {
    const VerifyCase& c = GetParam();
    const Config config = TrustConfig();
    TrustStore trust(config);
    const Bytes cms = c.make();
    const std::optional<Bytes> detached =
        c.detachedContent
            ? std::optional<Bytes>(Bytes(c.detachedContent->begin(), c.detachedContent->end()))
            : std::nullopt;

    const CmsVerification result =
        CmsVerify(cms, detached ? &*detached : nullptr, trust, c.checkChain);

    EXPECT_EQ(result.code, c.code) << result.message;
    EXPECT_FALSE(result.message.empty());
    if (c.code == kOk) {
        EXPECT_EQ(result.content, kContentBytes);
        ASSERT_TRUE(result.signer);
        EXPECT_EQ(result.message, "OK");
    }
}

const auto Rsa = [] { return Pki().rsa; };

const VerifyCase kCases[] = {
    // Made by the openssl command line.
    {"CliRsaAttached", [] { return CliSigned(Rsa(), "-nodetach"); }, std::nullopt, true, kOk},
    {"CliRsaDetachedSha512", [] { return CliSigned(Rsa(), "-md sha512"); }, kContent, true, kOk},
    {"CliRsaSha1", [] { return CliSigned(Rsa(), "-nodetach -md sha1"); }, std::nullopt, true, kOk},
    {"CliEcAttached", [] { return CliSigned(Pki().ec, "-nodetach -md sha384"); }, std::nullopt,
     true, kOk},
    {"CliEcDetached", [] { return CliSigned(Pki().ec, ""); }, kContent, true, kOk},
    {"CliRsaNoAttributes", [] { return CliSigned(Rsa(), "-nodetach -noattr"); }, std::nullopt, true,
     kOk},
    // Made by CmsSign.
    {"OwnEcAttached", [] { return OwnSigned(Pki().ec, false); }, std::nullopt, true, kOk},
    {"OwnSm2Attached", [] { return OwnSigned(Pki().sm2, false); }, std::nullopt, true, kOk},
    {"OwnSm2Detached", [] { return OwnSigned(Pki().sm2, true); }, kContent, true, kOk},
    {"Sm2SignOid", [] { return Sm2Signed("1234567812345678", "1.2.156.10197.1.301.1", false); },
     std::nullopt, true, kOk},
    // Damaged.
    {"ContentTampered", [] { return ContentTampered(CliSigned(Rsa(), "-nodetach")); }, std::nullopt,
     true, kBadSignature},
    {"DetachedContentTampered", [] { return CliSigned(Rsa(), ""); }, kContent + "x", true,
     kBadSignature},
    {"SignatureTampered",
     [] {
         Bytes cms = CliSigned(Rsa(), "-nodetach");
         return Flipped(cms, cms.size() - 1);
     },
     std::nullopt, true, kBadSignature},
    {"EcSignatureTampered",
     [] {
         Bytes cms = OwnSigned(Pki().ec, false);
         return Flipped(cms, cms.size() - 3);
     },
     std::nullopt, true, kBadSignature},
    {"Sm2ContentTampered", [] { return ContentTampered(OwnSigned(Pki().sm2, false)); },
     std::nullopt, true, kBadSignature},
    {"Sm2SignatureTampered",
     [] {
         Bytes cms = OwnSigned(Pki().sm2, false);
         return Flipped(cms, cms.size() - 3);
     },
     std::nullopt, true, kBadSignature},
    {"Sm2DetachedWrongContent", [] { return OwnSigned(Pki().sm2, true); }, "other", true,
     kBadSignature},
    // OpenSSL's default empty id is not the GM id.
    {"Sm2EmptyId", [] { return Sm2Signed("", "1.2.156.10197.1.501", false); }, std::nullopt, true,
     kBadSignature},
    {"AttachedButOtherDataGiven", [] { return OwnSigned(Pki().ec, false); }, "other data", true,
     kBadSignature},
    // The signers.
    {"SignerCertificateMissing", [] { return CliSigned(Rsa(), "-nodetach -nocerts"); },
     std::nullopt, true, kUntrusted},
    {"ExpiredSigner", [] { return CliSigned(Pki().expired, "-nodetach"); }, std::nullopt, true,
     kExpired},
    {"ExpiredSignerNoChain", [] { return CliSigned(Pki().expired, "-nodetach"); }, std::nullopt,
     false, kExpired},
    {"UntrustedSigner", [] { return CliSigned(Pki().untrusted, "-nodetach"); }, std::nullopt, true,
     kUntrusted},
    {"UntrustedSignerNoChain", [] { return CliSigned(Pki().untrusted, "-nodetach"); }, std::nullopt,
     false, kOk},
    // Not SignedData at all.
    {"Empty", [] { return Bytes(); }, std::nullopt, true, kMalformed},
    {"Garbage", [] { return Bytes{0x30, 0x82, 0x01, 0x00, 0x06, 0x09}; }, std::nullopt, true,
     kMalformed},
    {"Text", [] { return Bytes(kContent.begin(), kContent.end()); }, std::nullopt, true,
     kMalformed},
    {"Certificate", [] { return ReadBytes(Pki().rsa.der); }, std::nullopt, true, kMalformed},
    {"Truncated",
     [] {
         Bytes cms = CliSigned(Rsa(), "-nodetach");
         cms.resize(cms.size() / 2);
         return cms;
     },
     std::nullopt, true, kMalformed},
    {"TrailingGarbage",
     [] {
         Bytes cms = CliSigned(Rsa(), "-nodetach");
         cms.push_back(0);
         return cms;
     },
     std::nullopt, true, kMalformed},
    {"EnvelopedData",
     [] {
         const std::string in = WriteScratch("plain", AsBytes(kContent));
         Openssl("cms -encrypt -binary -aes-256-cbc -outform DER -in " + in + " -out " + in +
                 ".env " + Pki().rsa.cert);
         return ReadBytes(in + ".env");
     },
     std::nullopt, true, kMalformed},
    {"DetachedWithoutContent", [] { return CliSigned(Rsa(), ""); }, std::nullopt, true, kBadParam},
};

INSTANTIATE_TEST_SUITE_P(Cases, CmsVerifyTest, testing::ValuesIn(kCases), CaseName());

TEST(CmsVerifySignerTest, ReportsTheSignerCertificate) {
    const Config config = TrustConfig();
    TrustStore trust(config);
    const CmsVerification result = CmsVerify(OwnSigned(Pki().ec, false), nullptr, trust, true);
    ASSERT_EQ(result.code, kOk) << result.message;
    ASSERT_TRUE(result.signer);
    EXPECT_EQ(X509_cmp(result.signer.get(), LoadCertificate(Pki().ec).get()), 0);
}

}  // namespace
}  // namespace ref::test
