// Logging in, finding the private key, and what a session leaves behind.

#include <openssl/err.h>

#include "TokenTestBed.h"

namespace {

class P11Session : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bed_ = new TokenTestBed("zqt session", [](SoftHsmToken& token) {
            token.Import(Pki().rsa, "01", "rsa key");
            token.Import(Pki().ec, "02", "ec key", "--usage-sign --usage-derive");
        });
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    std::unique_ptr<ref::TokenSession> Open() { return bed_->registry().Open(bed_->info()); }

    static TokenTestBed* bed_;
};

TokenTestBed* P11Session::bed_ = nullptr;

TEST_F(P11Session, TheRightPinShowsThePrivateKeys) {
    std::unique_ptr<ref::TokenSession> session = Open();
    EXPECT_EQ(session->token().serial, bed_->info().serial);
    EXPECT_FALSE(session->HasPrivateKey(kRsaId));  // private until login
    ref::Secret pin(SoftHsmToken::kPin);
    session->Login(&pin);
    EXPECT_TRUE(session->HasPrivateKey(kRsaId));
    EXPECT_TRUE(session->HasPrivateKey(kEcId));
    EXPECT_FALSE(session->HasPrivateKey(kCertOnlyId));
}

TEST_F(P11Session, LoginFailuresCarryTheirCodeAndCause) {
    struct Case {
        const char* name;
        const char* pin;  // nullptr: the PIN-pad path (no PIN sent)
        int32_t code;
        const char* messageStart;
    };
    const Case cases[] = {
        // SoftHSM then sets CKF_USER_PIN_COUNT_LOW.
        {"wrong PIN", "654321", ref::kBadPin, "PIN incorrect, few tries left"},
        // SoftHSM has no PIN pad: a login without PIN is a bad argument there.
        {"no PIN", nullptr, ref::kPkcs11, "C_Login: CKR_ARGUMENTS_BAD"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<ref::TokenSession> session = Open();
        ref::Secret pin(c.pin == nullptr ? "" : c.pin);
        ref::Failure failure = CatchFailure([&] { session->Login(c.pin ? &pin : nullptr); });
        EXPECT_EQ(failure.code(), c.code) << c.name;
        EXPECT_EQ(std::string(failure.what()).rfind(c.messageStart, 0), 0u)
            << c.name << ": " << failure.what();
        EXPECT_FALSE(session->HasPrivateKey(kRsaId)) << c.name;
    }
    // The right PIN still works afterwards (and resets SoftHSM's count).
    EXPECT_TRUE(bed_->LoggedIn()->HasPrivateKey(kRsaId));
}

TEST_F(P11Session, ClosingLogsOutOnlyWhenThisSessionLoggedIn) {
    ref::Secret pin(SoftHsmToken::kPin);
    std::unique_ptr<ref::TokenSession> first = Open();
    first->Login(&pin);
    {
        // Login state is the token's: this one finds it logged in already
        // and must not log the first session out when it closes.
        std::unique_ptr<ref::TokenSession> second = Open();
        second->Login(&pin);
        EXPECT_TRUE(second->HasPrivateKey(kRsaId));
    }
    EXPECT_TRUE(first->HasPrivateKey(kRsaId));
    first.reset();
    EXPECT_FALSE(Open()->HasPrivateKey(kRsaId));
}

TEST_F(P11Session, PrivateKeyRefusesWhatDoesNotFit) {
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    ref::X509Ptr rsaCert = LoadCertificate(Pki().rsa);
    ref::X509Ptr ecCert = LoadCertificate(Pki().ec);
    struct Case {
        const char* name;
        ref::Bytes id;
        X509* cert;
        int32_t code;
    };
    const Case cases[] = {
        {"unknown id", ref::Bytes{0x7f}, rsaCert.get(), ref::kNoKey},
        {"empty id", ref::Bytes{}, rsaCert.get(), ref::kNoKey},
        {"RSA key, EC certificate", kRsaId, ecCert.get(), ref::kKeyType},
        {"EC key, RSA certificate", kEcId, rsaCert.get(), ref::kKeyType},
        {"no certificate", kRsaId, nullptr, ref::kBadParam},
    };
    for (const Case& c : cases) {
        ref::Failure failure = CatchFailure([&] { session->PrivateKey(c.id, c.cert); });
        EXPECT_EQ(failure.code(), c.code) << c.name << ": " << failure.what();
    }
    EXPECT_NE(session->PrivateKey(kRsaId, rsaCert.get()), nullptr);
    EXPECT_NE(session->PrivateKey(kEcId, ecCert.get()), nullptr);
}

TEST_F(P11Session, WithoutLoginThereIsNoPrivateKey) {
    std::unique_ptr<ref::TokenSession> session = Open();
    ref::X509Ptr cert = LoadCertificate(Pki().rsa);
    ref::Failure failure = CatchFailure([&] { session->PrivateKey(kRsaId, cert.get()); });
    EXPECT_EQ(failure.code(), ref::kNoKey);
}

TEST_F(P11Session, AKeyThatOutlivesItsSessionFailsCleanly) {
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    ref::X509Ptr cert = LoadCertificate(Pki().ec);
    ref::EvpPkeyPtr key = session->PrivateKey(kEcId, cert.get());
    session.reset();

    ref::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_NE(ctx, nullptr);
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    unsigned char digest[32] = {1, 2, 3};
    unsigned char signature[128];
    size_t length = sizeof signature;
    ERR_clear_error();
    EXPECT_NE(EVP_PKEY_sign(ctx.get(), signature, &length, digest, sizeof digest), 1);
    // The cause travels on OpenSSL's queue as the error's data text.
    const char* data = nullptr;
    int flags = 0;
    ASSERT_NE(ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags), 0u);
    ASSERT_TRUE(flags & ERR_TXT_STRING);
    EXPECT_NE(std::string(data).find("the token session is closed"), std::string::npos) << data;
    ERR_clear_error();
}

}  // namespace
