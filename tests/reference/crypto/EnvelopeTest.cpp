// EnvelopedData made by EnvelopeEncrypt and opened by `openssl cms
// -decrypt`, made by `openssl cms -encrypt` and opened by EnvelopeDecrypt,
// with provider, legacy and token-style keys (EC token keys in the
// control's token tests); and the faults an envelope can have.

#include "crypto/Envelope.h"

#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/CryptoTestSupport.h"

namespace ref::test {
namespace {

const std::string kContent = "sealed content, \xE4\xB8\xAD\xE6\x96\x87\n";
const Bytes kContentBytes(kContent.begin(), kContent.end());

int32_t CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.code();
    }
    return kOk;
}

// The content as `openssl cms -decrypt` opens the envelope ("" on failure).
std::string CliOpened(const TestIdentity& who, const Bytes& envelope) {
    const std::string in = WriteScratch("env.der", envelope);
    std::string output;
    if (!Openssl("cms -decrypt -binary -inform DER -in " + in + " -inkey " + who.key + " -recip " +
                     who.cert + " -out " + in + ".out",
                 &output)) {
        ADD_FAILURE() << output;
        return "";
    }
    return AsString(ReadBytes(in + ".out"));
}

Bytes CliSealed(const TestIdentity& who, const std::string& options) {
    const std::string in = WriteScratch("plain", kContentBytes);
    std::string output;
    // -keyopt applies to the -recip before it.
    EXPECT_TRUE(Openssl("cms -encrypt -binary -outform DER -in " + in + " -out " + in +
                            ".env -recip " + who.cert + " " + options,
                        &output))
        << output;
    return ReadBytes(in + ".env");
}

Bytes Sealed(const TestIdentity& who, const std::string& cipher, bool oaep = false) {
    X509Ptr cert = LoadCertificate(who);
    return EnvelopeEncrypt({cert.get()}, cipher, oaep, kContentBytes);
}

Bytes Opened(const TestIdentity& who, const Bytes& envelope, KeyForm form = KeyForm::kProvider) {
    EvpPkeyPtr key = KeyIn(who, form);
    X509Ptr cert = LoadCertificate(who);
    return EnvelopeDecrypt(envelope, key.get(), cert.get());
}

struct SealCase {
    const char* name;
    TestIdentity TestPki::*who;
    const char* cipher;
    bool oaep;
    KeyForm form;
};

const SealCase kSealCases[] = {
    {"RsaAes256", &TestPki::rsa, "AES-256-CBC", false, KeyForm::kProvider},
    {"RsaAes128Oaep", &TestPki::rsa, "aes-128-cbc", true, KeyForm::kProvider},
    {"Rsa3DesToken", &TestPki::rsa, "DES-EDE3-CBC", false, KeyForm::kToken},
    {"RsaOaepToken", &TestPki::rsa, "SM4-CBC", true, KeyForm::kToken},
    {"EcAes256", &TestPki::ec, "AES-256-CBC", false, KeyForm::kProvider},
    {"EcLegacy", &TestPki::ec, "AES-128-CBC", false, KeyForm::kLegacy},
    {"Sm2Sm4", &TestPki::sm2, "SM4-CBC", false, KeyForm::kProvider},
};

class SealTest : public testing::TestWithParam<SealCase> {};

TEST_P(SealTest, OpensHereAndWithOpenssl) {
    const SealCase& c = GetParam();
    const Bytes envelope = Sealed(Pki().*c.who, c.cipher, c.oaep);
    EXPECT_EQ(Opened(Pki().*c.who, envelope, c.form), kContentBytes);
    EXPECT_EQ(CliOpened(Pki().*c.who, envelope), kContent);
    EXPECT_EQ(Base64Encode(envelope).find(Base64Encode(kContentBytes)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Envelope, SealTest, testing::ValuesIn(kSealCases), CaseName());

TEST(EnvelopeTest, OpensWhatOpensslSealed) {
    struct Case {
        const TestIdentity* who;
        const char* options;
        KeyForm form;
    };
    const Case cases[] = {
        {&Pki().rsa, "-aes256", KeyForm::kProvider},
        {&Pki().rsa, "-des3", KeyForm::kToken},
        {&Pki().rsa, "-aes128 -keyopt rsa_padding_mode:oaep", KeyForm::kProvider},
        {&Pki().rsa, "-sm4-cbc -keyid", KeyForm::kProvider},
        {&Pki().ec, "-aes256", KeyForm::kProvider},
        {&Pki().ec, "-aes256", KeyForm::kLegacy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.who->subject) + " " + c.options);
        const Bytes envelope = CliSealed(*c.who, c.options);
        EXPECT_EQ(Opened(*c.who, envelope, c.form), kContentBytes);
    }
}

TEST(EnvelopeTest, OaepIsWhatTheKeyTransportSays) {
    std::string output;
    const std::string in = WriteScratch("oaep.der", Sealed(Pki().rsa, "AES-256-CBC", true));
    ASSERT_TRUE(Openssl("cms -cmsout -print -inform DER -in " + in, &output)) << output;
    EXPECT_NE(output.find("rsaesOaep"), std::string::npos) << output;
    EXPECT_NE(output.find("sha256"), std::string::npos) << output;
    const std::string sm2 = WriteScratch("sm2.der", Sealed(Pki().sm2, "SM4-CBC"));
    ASSERT_TRUE(Openssl("cms -cmsout -print -inform DER -in " + sm2, &output)) << output;
    EXPECT_NE(output.find("1.2.156.10197.1.301.3"), std::string::npos) << output;
    EXPECT_NE(output.find("sm4-cbc"), std::string::npos) << output;
}

TEST(EnvelopeTest, SeveralRecipientsEachOpenIt) {
    X509Ptr rsa = LoadCertificate(Pki().rsa);
    X509Ptr ec = LoadCertificate(Pki().ec);
    X509Ptr sm2 = LoadCertificate(Pki().sm2);
    X509Ptr other = LoadCertificate(Pki().untrusted);
    const Bytes envelope =
        EnvelopeEncrypt({rsa.get(), ec.get(), sm2.get()}, "AES-256-CBC", false, kContentBytes);
    const auto recipients = EnvelopeRecipients(envelope);
    ASSERT_EQ(recipients.size(), 3u);
    for (X509* cert : {rsa.get(), ec.get(), sm2.get()}) {
        const bool found = std::any_of(recipients.begin(), recipients.end(),
                                       [&](const auto& r) { return IsRecipient(r, cert); });
        EXPECT_TRUE(found);
    }
    for (const auto& r : recipients) EXPECT_FALSE(IsRecipient(r, other.get()));
    EXPECT_EQ(Opened(Pki().rsa, envelope), kContentBytes);
    EXPECT_EQ(Opened(Pki().ec, envelope), kContentBytes);
    EXPECT_EQ(Opened(Pki().sm2, envelope), kContentBytes);
}

TEST(EnvelopeTest, KeyIdRecipientsAreRecognised) {
    const auto recipients = EnvelopeRecipients(CliSealed(Pki().rsa, "-aes256 -keyid"));
    ASSERT_EQ(recipients.size(), 1u);
    EXPECT_FALSE(recipients[0].keyId.empty());
    X509Ptr rsa = LoadCertificate(Pki().rsa);
    X509Ptr ec = LoadCertificate(Pki().ec);
    EXPECT_TRUE(IsRecipient(recipients[0], rsa.get()));
    EXPECT_FALSE(IsRecipient(recipients[0], ec.get()));
}

TEST(EnvelopeTest, StreamsBothWays) {
    Bytes big(3 * 1024 * 1024 + 5);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    X509Ptr cert = LoadCertificate(Pki().ec);
    BioPtr in = MemoryBio(big);
    BioPtr sealed(BIO_new(BIO_s_mem()));
    EnvelopeEncryptStream({cert.get()}, "AES-128-CBC", false, in.get(), sealed.get());
    const Bytes envelope = BioBytes(sealed.get());
    ASSERT_GT(envelope.size(), big.size());
    EXPECT_EQ(CliOpened(Pki().ec, envelope).size(), big.size());

    EvpPkeyPtr key = LoadPrivateKey(Pki().ec);
    BioPtr again = MemoryBio(envelope);
    BioPtr plain(BIO_new(BIO_s_mem()));
    EnvelopeDecryptStream(again.get(), plain.get(), key.get(), cert.get());
    EXPECT_EQ(BioBytes(plain.get()), big);
}

TEST(EnvelopeTest, EmptyContentSealsAndOpens) {
    X509Ptr cert = LoadCertificate(Pki().rsa);
    const Bytes envelope = EnvelopeEncrypt({cert.get()}, "AES-256-CBC", false, {});
    EXPECT_TRUE(Opened(Pki().rsa, envelope).empty());
}

// A ContentInfo of GM/T 0010's envelope type around an empty SEQUENCE.
Bytes GmTyped() {
    return {0x30, 0x11, 0x06, 0x0a, 0x2a, 0x81, 0x1c, 0xcf, 0x55, 0x06,
            0x01, 0x04, 0x02, 0x03, 0xa0, 0x03, 0x30, 0x01, 0x00};
}

TEST(EnvelopeTest, FaultsAreReportedNotOpened) {
    const Bytes envelope = Sealed(Pki().rsa, "AES-256-CBC");
    // The content ciphertext ends the DER; this byte of its last-but-one
    // block changes the padding byte, which then no longer fits.
    Bytes lastBlock = envelope;
    lastBlock[envelope.size() - 17] ^= 0x01;
    Bytes truncated(envelope.begin(), envelope.end() - 7);
    X509Ptr rsa = LoadCertificate(Pki().rsa);
    EvpPkeyPtr caKey = LoadPrivateKey(Pki().rsaCa);
    X509Ptr ca = LoadCertificate(Pki().rsaCa);
    EvpPkeyPtr key = LoadPrivateKey(Pki().rsa);
    const Bytes signedData =
        CmsSign(key.get(), rsa.get(), nullptr, kContentBytes, false, Hash::kSha256);
    // The encrypted key sits right after the issuer and serial of the recipient.
    Bytes keyFlipped = envelope;
    keyFlipped[envelope.size() / 3] ^= 0x40;

    struct Case {
        const char* name;
        std::function<void()> call;
        int32_t code;
    };
    const Case cases[] = {
        {"last block", [&] { Opened(Pki().rsa, lastBlock); }, kDecrypt},
        {"truncated", [&] { Opened(Pki().rsa, truncated); }, kMalformed},
        {"garbage",
         [&] {
             Opened(Pki().rsa, Bytes{1, 2, 3});
         },
         kMalformed},
        {"not a recipient", [&] { EnvelopeDecrypt(envelope, caKey.get(), ca.get()); }, kDecrypt},
        {"key of another certificate", [&] { EnvelopeDecrypt(envelope, caKey.get(), rsa.get()); },
         kDecrypt},
        {"signed data", [&] { Opened(Pki().rsa, signedData); }, kMalformed},
        {"GM/T 0010 type", [&] { Opened(Pki().rsa, GmTyped()); }, kUnsupported},
        {"unknown cipher", [&] { EnvelopeEncrypt({rsa.get()}, "RC2-CBC", false, {}); }, kBadParam},
        {"no recipients", [&] { EnvelopeEncrypt({}, "AES-256-CBC", false, {}); }, kBadParam},
    };
    for (const Case& c : cases) EXPECT_EQ(CodeOf(c.call), c.code) << c.name;
    // A flipped byte somewhere in the key transport or content: never the content.
    try {
        EXPECT_NE(Opened(Pki().rsa, keyFlipped), kContentBytes);
    } catch (const Failure& failure) {
        EXPECT_TRUE(failure.code() == kDecrypt || failure.code() == kMalformed) << failure.what();
    }
    EXPECT_TRUE(IsGmEnvelope(GmTyped()));
    EXPECT_FALSE(IsGmEnvelope(envelope));
}

}  // namespace
}  // namespace ref::test
