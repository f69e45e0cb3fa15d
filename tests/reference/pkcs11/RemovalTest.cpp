// A token that goes away: later opens say so, and a key of a session that
// lost its token reports it through ThrowIfFailed.

#include <openssl/evp.h>

#include "TokenTestBed.h"

namespace {

class P11Removal : public ::testing::Test {
  protected:
    // Its own token: the suite deletes it.
    static void SetUpTestSuite() {
        bed_ = new TokenTestBed("zqt removal", [](SoftHsmToken& token) {
            token.Import(Pki().ec, "02", "ec key", "--usage-sign --usage-derive");
        });
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    static TokenTestBed* bed_;
};

TokenTestBed* P11Removal::bed_ = nullptr;

TEST_F(P11Removal, ADeletedTokenIsNotPresentAfterReload) {
    ASSERT_EQ(bed_->registry().Tokens().size(), 1u);
    std::unique_ptr<ref::TokenSession> session = bed_->LoggedIn();
    ref::X509Ptr cert = LoadCertificate(Pki().ec);
    ref::EvpPkeyPtr key = session->PrivateKey(kEcId, cert.get());

    bed_->token().Delete();

    // The session opened before still exists; what it does now must fail
    // with an error the caller can read, never sign with a stale key.
    ref::EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
    ASSERT_EQ(EVP_PKEY_sign_init(ctx.get()), 1);
    unsigned char digest[32] = {9};
    unsigned char signature[128];
    size_t length = sizeof signature;
    ASSERT_NE(EVP_PKEY_sign(ctx.get(), signature, &length, digest, sizeof digest), 1);
    // SoftHSM answers CKR_OBJECT_HANDLE_INVALID; the token is then found gone.
    ref::Failure failure = CatchFailure([&] { session->ThrowIfFailed("EVP_PKEY_sign"); });
    EXPECT_EQ(failure.code(), ref::kNoToken) << failure.what();
    EXPECT_EQ(std::string(failure.what()).rfind("EVP_PKEY_sign: C_Sign", 0), 0u) << failure.what();
    // Taken once: a later, unrelated OpenSSL error is not blamed on the token.
    EXPECT_NO_THROW(session->ThrowIfFailed("EVP_PKEY_sign"));
    session.reset();
    key.reset();

    bed_->registry().Reload();
    EXPECT_TRUE(bed_->registry().Tokens().empty());
    EXPECT_TRUE(bed_->registry().Certificates().empty());
    ref::Failure gone = CatchFailure([&] { bed_->registry().Open(bed_->info()); });
    EXPECT_EQ(gone.code(), ref::kNoToken);
    EXPECT_EQ(std::string(gone.what()),
              "token zqt removal (" + bed_->info().serial + ") is not present");
}

}  // namespace
