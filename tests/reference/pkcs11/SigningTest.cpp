// Raw signatures made with token keys, checked by `openssl dgst -verify`.

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include "TokenTestBed.h"

namespace {

class P11Signing : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bed_ = new TokenTestBed("zqt signing", [](SoftHsmToken& token) {
            token.Import(Pki().rsa, "01", "rsa key");
            token.Import(Pki().ec, "02", "ec key", "--usage-sign --usage-derive");
            // Asks for the PIN again at every use (CKA_ALWAYS_AUTHENTICATE).
            token.Import(Pki().expired, "04", "always auth", "--usage-sign --always-auth");
        });
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    // Whether openssl accepts signature over data for the identity's key.
    static CommandResult Verify(const TestIdentity& identity, ref::ByteView signature,
                                const std::string& options = "") {
        const std::string dir = bed_->dir();
        WriteBytes(dir + "/data", ref::AsBytes(kData));
        WriteBytes(dir + "/sig", signature);
        RunShell("openssl x509 -in " + ShellQuote(identity.cert) + " -pubkey -noout > " +
                 ShellQuote(dir + "/pub.pem"));
        return RunShell("openssl dgst -sha256 " + options + " -verify " +
                        ShellQuote(dir + "/pub.pem") + " -signature " + ShellQuote(dir + "/sig") +
                        " " + ShellQuote(dir + "/data"));
    }

    static ref::Bytes DigestSign(EVP_PKEY* key, int padding = 0) {
        ref::EvpMdCtxPtr ctx(EVP_MD_CTX_new());
        EVP_PKEY_CTX* pctx = nullptr;
        EXPECT_EQ(EVP_DigestSignInit(ctx.get(), &pctx, EVP_sha256(), nullptr, key), 1);
        if (padding != 0) {
            EXPECT_EQ(EVP_PKEY_CTX_set_rsa_padding(pctx, padding), 1);
        }
        size_t length = 0;
        const auto* data = reinterpret_cast<const unsigned char*>(kData);
        EXPECT_EQ(EVP_DigestSign(ctx.get(), nullptr, &length, data, sizeof kData - 1), 1);
        ref::Bytes signature(length);
        if (EVP_DigestSign(ctx.get(), signature.data(), &length, data, sizeof kData - 1) != 1) {
            ADD_FAILURE() << ref::TakeOpensslError();
            return {};
        }
        signature.resize(length);
        return signature;
    }

    static constexpr char kData[] = "text signed on the token\n";
    static TokenTestBed* bed_;
};

TokenTestBed* P11Signing::bed_ = nullptr;

struct KeyCase {
    const char* name;
    const TestIdentity& (*identity)();
    ref::Bytes id;
};

const KeyCase kKeys[] = {
    {"RSA", []() -> const TestIdentity& { return Pki().rsa; }, kRsaId},
    {"EC", []() -> const TestIdentity& { return Pki().ec; }, kEcId},
    {"RSA, PIN per use", []() -> const TestIdentity& { return Pki().expired; }, kAlwaysAuthId},
};

TEST_F(P11Signing, DigestSignVerifiesWithOpenssl) {
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    for (const KeyCase& c : kKeys) {
        ref::X509Ptr cert = LoadCertificate(c.identity());
        ref::EvpPkeyPtr key = session->PrivateKey(c.id, cert.get());
        // Twice: a per-use PIN must be given again for the second signature.
        for (int round = 0; round < 2; ++round) {
            ref::Bytes signature = DigestSign(key.get());
            session->ThrowIfFailed("EVP_DigestSign");
            CommandResult verified = Verify(c.identity(), signature);
            EXPECT_EQ(verified.exitCode, 0) << c.name << ": " << verified.output;
            EXPECT_NE(verified.output.find("Verified OK"), std::string::npos) << c.name;
        }
    }
}

TEST_F(P11Signing, SignOverADigestVerifiesWithOpenssl) {
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    unsigned char digest[32];
    unsigned int digestLength = 0;
    ASSERT_EQ(EVP_Digest(kData, sizeof kData - 1, digest, &digestLength, EVP_sha256(), nullptr), 1);
    for (const KeyCase& c : kKeys) {
        ref::X509Ptr cert = LoadCertificate(c.identity());
        ref::EvpPkeyPtr key = session->PrivateKey(c.id, cert.get());
        ref::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
        ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
        ASSERT_EQ(EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()), 1);
        ref::Bytes signature(static_cast<size_t>(EVP_PKEY_get_size(key.get())));
        size_t length = signature.size();
        ASSERT_EQ(EVP_PKEY_sign(ctx.get(), signature.data(), &length, digest, digestLength), 1)
            << c.name << ": " << ref::TakeOpensslError();
        signature.resize(length);
        EXPECT_EQ(Verify(c.identity(), signature).exitCode, 0) << c.name;
    }
}

TEST_F(P11Signing, RsaPssIsPaddedOnTheHostAndVerifies) {
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    ref::X509Ptr cert = LoadCertificate(Pki().rsa);
    ref::EvpPkeyPtr key = session->PrivateKey(kRsaId, cert.get());
    ref::Bytes signature = DigestSign(key.get(), RSA_PKCS1_PSS_PADDING);
    CommandResult verified =
        Verify(Pki().rsa, signature, "-sigopt rsa_padding_mode:pss -sigopt rsa_pss_saltlen:-2");
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    // The plain PKCS#1 v1.5 check must refuse it: the padding really is PSS.
    EXPECT_NE(Verify(Pki().rsa, signature).exitCode, 0);
}

TEST_F(P11Signing, AWrongSignatureDoesNotVerify) {
    // The oracle itself must be able to say no.
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    ref::X509Ptr cert = LoadCertificate(Pki().rsa);
    ref::Bytes signature = DigestSign(session->PrivateKey(kRsaId, cert.get()).get());
    ASSERT_FALSE(signature.empty());
    signature[signature.size() / 2] ^= 0x01;
    EXPECT_NE(Verify(Pki().rsa, signature).exitCode, 0);
    EXPECT_NE(Verify(Pki().ec, signature).exitCode, 0);
}

}  // namespace
