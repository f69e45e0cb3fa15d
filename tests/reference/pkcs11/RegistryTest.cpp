// Discovery: tokens and certificates as the registry lists them without
// login, override paths, p11-kit's own registry, reload.

#include <openssl/evp.h>
#include <openssl/sha.h>
#include <p11-kit/pkcs11.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "TokenTestBed.h"

namespace {

class P11Registry : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bed_ = new TokenTestBed("zqt registry", [](SoftHsmToken& token) {
            token.Import(Pki().rsa, "01", "rsa key");
            token.Import(Pki().ec, "02", "ec key", "--usage-sign --usage-derive");
            token.ImportCertificateOnly(Pki().untrusted, "03");
        });
    }
    static void TearDownTestSuite() {
        delete bed_;
        bed_ = nullptr;
    }

    static TokenTestBed* bed_;
};

TokenTestBed* P11Registry::bed_ = nullptr;

TEST_F(P11Registry, ListsOnlyTheInitialisedTokenWithItsDetails) {
    // SoftHSM always shows a further, uninitialised token: it is left out.
    std::vector<ref::TokenInfo> tokens = bed_->registry().Tokens();
    ASSERT_EQ(tokens.size(), 1u);
    const ref::TokenInfo& token = tokens.front();
    EXPECT_EQ(token.module, SoftHsmToken::kModule);
    EXPECT_EQ(token.label, "zqt registry");  // blank padding gone
    EXPECT_EQ(token.serial, bed_->token().Serial());
    EXPECT_EQ(token.model, "SoftHSM v2");
    EXPECT_EQ(token.manufacturer, "SoftHSM project");
    EXPECT_TRUE(token.loginRequired);
    EXPECT_FALSE(token.pinpad);
    EXPECT_TRUE(token.writable);
}

TEST_F(P11Registry, ListsEveryCertificateWithItsIdAndWhetherAKeyIsVisible) {
    struct Expected {
        ref::Bytes id;
        const TestIdentity* identity;
        std::string label;
        bool keyVisible;  // the public key is visible without login
    };
    const Expected expected[] = {
        {kRsaId, &Pki().rsa, "rsa key", true},
        {kEcId, &Pki().ec, "ec key", true},
        {kCertOnlyId, &Pki().untrusted, "certificate 03", false},
    };
    std::vector<ref::TokenCertificate> certs = bed_->registry().Certificates();
    ASSERT_EQ(certs.size(), std::size(expected));
    for (const Expected& want : expected) {
        auto found = std::find_if(certs.begin(), certs.end(),
                                  [&](const ref::TokenCertificate& c) { return c.id == want.id; });
        ASSERT_NE(found, certs.end()) << want.label;
        EXPECT_EQ(found->der, ReadBytes(want.identity->der)) << want.label;
        EXPECT_EQ(found->label, want.label);
        EXPECT_EQ(found->keyVisible, want.keyVisible) << want.label;
        EXPECT_EQ(found->token.serial, bed_->info().serial);
        EXPECT_EQ(found->token.label, bed_->info().label);
    }
}

TEST_F(P11Registry, AModuleThatDoesNotLoadIsSkippedAndNamedWhenItsTokenIsAskedFor) {
    const std::string missing = bed_->dir() + "/no-such-module.so";
    ref::Pkcs11Registry registry({missing, SoftHsmToken::kModule});
    std::vector<ref::TokenInfo> tokens = registry.Tokens();
    ASSERT_EQ(tokens.size(), 1u);
    EXPECT_EQ(tokens.front().serial, bed_->info().serial);
    EXPECT_EQ(registry.Certificates().size(), 3u);

    ref::TokenInfo onMissing = bed_->info();
    onMissing.module = missing;
    ref::Failure failure = CatchFailure([&] { registry.Open(onMissing); });
    EXPECT_EQ(failure.code(), ref::kNoToken);
    EXPECT_NE(std::string(failure.what()).find("is not present"), std::string::npos);
    EXPECT_NE(std::string(failure.what()).find(missing + " not loaded"), std::string::npos)
        << failure.what();
}

TEST_F(P11Registry, AnUnknownTokenIsNotPresent) {
    ref::TokenInfo other = bed_->info();
    other.serial = "0000000000000000";
    ref::Failure failure = CatchFailure([&] { bed_->registry().Open(other); });
    EXPECT_EQ(failure.code(), ref::kNoToken);
    EXPECT_EQ(std::string(failure.what()), "token zqt registry (0000000000000000) is not present");
}

TEST_F(P11Registry, P11KitsOwnRegistryFindsTheSameTokenWithoutTheTrustModule) {
    // The softhsm2 package registers SoftHSM system-wide; SOFTHSM2_CONF
    // (set by the test bed) points it at our scratch token.
    CommandResult listed = RunShell("p11-kit list-modules");
    if (listed.output.find("softhsm") == std::string::npos) {
        GTEST_SKIP() << "SoftHSM is not registered with p11-kit here";
    }
    ref::Pkcs11Registry registry({});
    std::vector<ref::TokenInfo> tokens = registry.Tokens();
    auto ours = std::find_if(tokens.begin(), tokens.end(),
                             [](const ref::TokenInfo& t) { return t.label == "zqt registry"; });
    ASSERT_NE(ours, tokens.end());
    EXPECT_EQ(ours->serial, bed_->info().serial);
    EXPECT_NE(ours->module.find("softhsm"), std::string::npos) << ours->module;
    for (const ref::TokenInfo& token : tokens) {
        EXPECT_NE(token.label, "System Trust");
    }

    std::unique_ptr<ref::TokenSession> session = registry.Open(*ours);
    ref::Secret pin(SoftHsmToken::kPin);
    session->Login(&pin);
    EXPECT_TRUE(session->HasPrivateKey(kRsaId));
}

TEST_F(P11Registry, ReloadsRepeatedlyAndOpenSslStillWorks) {
    ref::Pkcs11Registry registry({SoftHsmToken::kModule});
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(registry.Tokens().size(), 1u) << "round " << round;
        registry.Reload();
    }
    // A session opened before a reload keeps its module until it closes.
    std::unique_ptr<ref::TokenSession> session = registry.Open(bed_->info());
    registry.Reload();
    ref::Secret pin(SoftHsmToken::kPin);
    session->Login(&pin);
    EXPECT_TRUE(session->HasPrivateKey(kEcId));
    session.reset();
    registry.Reload();

    unsigned char digest[SHA256_DIGEST_LENGTH];
    unsigned int length = 0;
    ASSERT_EQ(EVP_Digest("abc", 3, digest, &length, EVP_sha256(), nullptr), 1);
    EXPECT_EQ(ref::HexEncode(ref::ByteView(digest, length)),
              "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
    EXPECT_EQ(registry.Tokens().size(), 1u);
}

TEST_F(P11Registry, AReloadCannotPullModulesFromUnderAListing) {
    ref::Pkcs11Registry registry({SoftHsmToken::kModule});
    std::atomic<int> listedWrong{0};
    std::thread lister([&] {
        for (int round = 0; round < 30; ++round) {
            if (registry.Tokens().size() != 1u || registry.Certificates().size() != 3u) {
                ++listedWrong;
            }
        }
    });
    for (int round = 0; round < 30; ++round) {
        registry.Reload();
    }
    lister.join();
    EXPECT_EQ(listedWrong.load(), 0);
}

TEST(P11Library, VersionIsP11KitsOwn) {
    std::string version = ref::Pkcs11Registry::LibraryVersion();
    if (version == "p11-kit") {
        GTEST_SKIP() << "built without ZQT_P11KIT_VERSION";
    }
    CommandResult expected = RunShell("pkg-config --modversion p11-kit-1");
    ASSERT_EQ(expected.exitCode, 0);
    EXPECT_EQ(version + "\n", "p11-kit " + expected.output);
}

TEST(P11Library, NamesReturnValues) {
    const std::pair<unsigned long, const char*> cases[] = {
        {CKR_OK, "CKR_OK"},
        {CKR_PIN_INCORRECT, "CKR_PIN_INCORRECT"},
        {CKR_DEVICE_REMOVED, "CKR_DEVICE_REMOVED"},
        {CKR_KEY_FUNCTION_NOT_PERMITTED, "CKR_KEY_FUNCTION_NOT_PERMITTED"},
        {CKR_CRYPTOKI_ALREADY_INITIALIZED, "CKR_CRYPTOKI_ALREADY_INITIALIZED"},
        {CKR_VENDOR_DEFINED + 5, "CKR_0x80000005"},
    };
    for (const auto& [rv, name] : cases) {
        EXPECT_EQ(ref::CkrName(rv), name);
    }
}

}  // namespace
