// OpenSSL's own CMS code with token keys: signatures checked by
// `openssl cms -verify`, envelopes made by `openssl cms -encrypt` opened
// with CMS_decrypt on the token.

#include <openssl/cms.h>
#include <openssl/err.h>

#include "TokenTestBed.h"

namespace {

class P11Cms : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bed_ = new TokenTestBed("zqt cms", [](SoftHsmToken& token) {
            token.Import(Pki().rsa, "01", "rsa key");
            token.Import(Pki().ec, "02", "ec key", "--usage-sign --usage-derive");
            // The same EC key without CKA_DERIVE: the token refuses ECDH.
            token.ImportKeyOnly(Pki().ec, "05");
        });
        WriteFileText(bed_->dir() + "/content", kContent);
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    static std::string Path(const std::string& name) { return bed_->dir() + "/" + name; }

    static ref::Bytes Sign(const TestIdentity& identity, const ref::Bytes& id, unsigned flags) {
        std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
        ref::X509Ptr cert = LoadCertificate(identity);
        ref::EvpPkeyPtr key = session->PrivateKey(id, cert.get());
        ref::BioPtr in = ref::MemoryBio(ref::AsBytes(kContent));
        ref::CmsPtr cms(CMS_sign(cert.get(), key.get(), nullptr, in.get(), flags | CMS_BINARY));
        if (!cms) {
            session->ThrowIfFailed("CMS_sign");
            ADD_FAILURE() << ref::TakeOpensslError();
            return {};
        }
        ref::BioPtr out(BIO_new(BIO_s_mem()));
        EXPECT_EQ(i2d_CMS_bio(out.get(), cms.get()), 1);
        return ref::BioBytes(out.get());
    }

    // An envelope to the identity's certificate, made by openssl.
    static ref::CmsPtr Envelope(const TestIdentity& identity, const std::string& options = "") {
        // -keyopt applies to the -recip before it.
        CommandResult made =
            RunShell("openssl cms -encrypt -binary -aes256 -in " + ShellQuote(Path("content")) +
                     " -outform DER -out " + ShellQuote(Path("envelope")) + " -recip " +
                     ShellQuote(identity.cert) + " " + options);
        EXPECT_EQ(made.exitCode, 0) << made.output;
        ref::Bytes der = ReadBytes(Path("envelope"));
        ref::BioPtr in = ref::MemoryBio(der);
        return ref::CmsPtr(d2i_CMS_bio(in.get(), nullptr));
    }

    // CMS_decrypt with the token's key; the content, or the Failure thrown.
    static std::string Decrypt(CMS_ContentInfo* cms, const TestIdentity& identity,
                               const ref::Bytes& id) {
        std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
        ref::X509Ptr cert = LoadCertificate(identity);
        ref::EvpPkeyPtr key = session->PrivateKey(id, cert.get());
        ref::BioPtr out(BIO_new(BIO_s_mem()));
        if (CMS_decrypt(cms, key.get(), cert.get(), nullptr, out.get(), CMS_BINARY) != 1) {
            session->ThrowIfFailed("CMS_decrypt");
            ref::Fail(ref::kDecrypt, "CMS_decrypt: " + ref::TakeOpensslError());
        }
        return ref::AsString(ref::BioBytes(out.get()));
    }

    static constexpr char kContent[] = "content of the CMS tests\nsecond line\n";
    static TokenTestBed* bed_;
};

TokenTestBed* P11Cms::bed_ = nullptr;

TEST_F(P11Cms, AnAttachedRsaSignatureVerifiesWithOpenssl) {
    WriteBytes(Path("attached.der"), Sign(Pki().rsa, kRsaId, 0));
    CommandResult verified = RunShell(
        "openssl cms -verify -binary -inform DER -in " + ShellQuote(Path("attached.der")) +
        " -CAfile " + ShellQuote(Pki().rsaCa.cert) + " -out " + ShellQuote(Path("verified")));
    ASSERT_EQ(verified.exitCode, 0) << verified.output;
    EXPECT_EQ(ReadFileText(Path("verified")), kContent);
}

TEST_F(P11Cms, ADetachedEcSignatureVerifiesWithOpensslAndOnlyForItsContent) {
    WriteBytes(Path("detached.der"), Sign(Pki().ec, kEcId, CMS_DETACHED));
    auto verify = [](const std::string& content) {
        return RunShell("openssl cms -verify -binary -inform DER -in " +
                        ShellQuote(Path("detached.der")) + " -content " + ShellQuote(content) +
                        " -CAfile " + ShellQuote(Pki().rsaCa.cert) + " -out /dev/null");
    };
    CommandResult verified = verify(Path("content"));
    EXPECT_EQ(verified.exitCode, 0) << verified.output;
    WriteFileText(Path("other"), "other content\n");
    EXPECT_NE(verify(Path("other")).exitCode, 0);
}

TEST_F(P11Cms, EnvelopesOpenWithTheTokenKey) {
    struct Case {
        const char* name;
        const TestIdentity& identity;
        ref::Bytes id;
        std::string options;
    };
    const Case cases[] = {
        {"RSA PKCS#1 v1.5 (KTRI)", Pki().rsa, kRsaId, ""},
        {"RSA OAEP SHA-256 (KTRI)", Pki().rsa, kRsaId,
         "-keyopt rsa_padding_mode:oaep -keyopt rsa_oaep_md:sha256"},
        {"EC (KARI, ECDH on the token)", Pki().ec, kEcId, ""},
    };
    for (const Case& c : cases) {
        ref::CmsPtr cms = Envelope(c.identity, c.options);
        ASSERT_NE(cms, nullptr) << c.name;
        if (!c.options.empty()) {
            CommandResult printed = RunShell("openssl cms -cmsout -print -inform DER -in " +
                                             ShellQuote(Path("envelope")));
            EXPECT_NE(printed.output.find("rsaesOaep"), std::string::npos) << c.name;
        }
        try {
            EXPECT_EQ(Decrypt(cms.get(), c.identity, c.id), kContent) << c.name;
        } catch (const ref::Failure& failure) {
            ADD_FAILURE() << c.name << ": " << failure.what();
        }
    }
}

TEST_F(P11Cms, TheTokensRefusalReachesTheCaller) {
    // ECDH with a key lacking CKA_DERIVE fails inside OpenSSL's callback;
    // the token's answer, not a generic decryption error, comes out.
    ref::CmsPtr cms = Envelope(Pki().ec);
    ASSERT_NE(cms, nullptr);
    ref::Failure failure = CatchFailure([&] { Decrypt(cms.get(), Pki().ec, ref::Bytes{0x05}); });
    EXPECT_EQ(failure.code(), ref::kPkcs11);
    EXPECT_EQ(std::string(failure.what()),
              "CMS_decrypt: C_DeriveKey: CKR_KEY_FUNCTION_NOT_PERMITTED");
}

TEST_F(P11Cms, ANonRecipientIsADecryptionErrorNotATokenError) {
    // The envelope is for the RSA certificate; the EC key cannot open it.
    ref::CmsPtr cms = Envelope(Pki().rsa);
    ASSERT_NE(cms, nullptr);
    ref::Failure failure = CatchFailure([&] { Decrypt(cms.get(), Pki().ec, kEcId); });
    EXPECT_EQ(failure.code(), ref::kDecrypt) << failure.what();
}

}  // namespace
