// Signing with a SoftHSM2 token through PKCS#11, as a page does it.
#include <gtest/gtest.h>

#include "control/ControlHarness.h"
#include "control/Oracle.h"

namespace {

class TokenSigningTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        SoftHsmToken& token = *scope->token();
        token.Import(pki().rsa, "01", "rsa key");
        token.Import(pki().ec, "02", "ec key", "--usage-sign --usage-derive");
        token.ImportCertificateOnly(pki().untrusted, "03");
        scope->TrustTestCas();
        scope->pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
        oracle = std::make_unique<Oracle>(scope->home());
    }
    static const TestPki& pki() { return TestPki::Shared(); }
    int Prompts() { return scope->pinentry().PinPrompts(); }

    std::unique_ptr<ControlScope> scope;
    std::unique_ptr<Oracle> oracle;
};

TEST_F(TokenSigningTest, TokenKeysSignAndTheResultsVerify) {
    for (const TestIdentity* who : {&pki().rsa, &pki().ec}) {
        SCOPED_TRACE(who->subject);
        const int before = Prompts();
        const std::string raw = scope->Text(10, {std::string("hello"), who->serial});
        ASSERT_FALSE(raw.empty()) << scope->LastMessage();
        EXPECT_TRUE(oracle->VerifyRaw(*who, "sha256", "hello", raw));
        const std::string attached = scope->Text(8, {std::string("hello"), who->serial});
        ASSERT_FALSE(attached.empty()) << scope->LastMessage();
        EXPECT_EQ(oracle->VerifyCms(pki().rsaCa.cert, attached, nullptr), "hello");
        const std::string data = "detached";
        const std::string detached = scope->Text(6, {data, who->serial});
        EXPECT_EQ(oracle->VerifyCms(pki().rsaCa.cert, detached, &data), data);
        EXPECT_EQ(Prompts(), before + 3) << "one PIN prompt per signature";
    }
}

TEST_F(TokenSigningTest, SelectionByCriteriaFindsTheTokenCertificate) {
    EXPECT_EQ(scope->Number(2, {std::string(), std::string(), std::string("ec leaf"), std::string(),
                                std::string("EC"), std::string(), std::string("Test Token")}),
              0)
        << scope->LastMessage();
    const std::string sig = scope->Text(10, {std::string("chosen"), std::string()});
    EXPECT_TRUE(oracle->VerifyRaw(pki().ec, "sha256", "chosen", sig));
    EXPECT_EQ(scope->Number(1, {int32_t{2}}), 0) << "the software store only";
    EXPECT_EQ(scope->Text(10, {std::string("chosen"), std::string()}), "");
    EXPECT_EQ(scope->LastCode(), -4);
    EXPECT_EQ(scope->Number(92, {std::string("Test Token"), pki().rsa.serial}), 0);
    EXPECT_EQ(scope->Number(92, {std::string("No Such Token"), std::string()}), -5);
    EXPECT_EQ(scope->Text(159, {pki().rsa.serial}), scope->token()->Serial());
    EXPECT_EQ(scope->Text(159, {std::string("0BADC0FFEE")}), "");
}

TEST_F(TokenSigningTest, PinFaults) {
    scope->pinentry().Set(FakePinentry::Action::kPin, "000000");
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -7);
    EXPECT_NE(scope->LastMessage().find("PIN incorrect"), std::string::npos)
        << scope->LastMessage();
    EXPECT_NE(scope->LastMessage().find("tr"), std::string::npos) << "says how many tries are left";
    scope->pinentry().Set(FakePinentry::Action::kCancel);
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -6);

    EXPECT_EQ(scope->Number(129, {std::string("Test Token"), std::string("000000")}), -7);
    EXPECT_EQ(scope->Number(129, {std::string("Test Token"), std::string(SoftHsmToken::kPin)}), 0);
    scope->pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    const int before = Prompts();
    EXPECT_EQ(scope->Number(129, {std::string("Test Token"), std::string()}), 0);
    EXPECT_EQ(Prompts(), before + 1) << "an empty PIN is asked for";
}

TEST_F(TokenSigningTest, KeysAndCertificatesThatDoNotPair) {
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().untrusted.serial}), "");
    EXPECT_EQ(scope->LastCode(), -9) << scope->LastMessage();
    EXPECT_EQ(scope->Text(49, {std::string("x"), pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -10);
}

TEST_F(TokenSigningTest, APulledTokenIsGone) {
    ASSERT_FALSE(scope->Text(10, {std::string("x"), pki().rsa.serial}).empty());
    scope->token()->Delete();
    ASSERT_EQ(scope->Number(124, {std::string("token pulled")}), 0);
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
    const int32_t code = scope->LastCode();
    EXPECT_TRUE(code == -4 || code == -5) << code << " " << scope->LastMessage();
    EXPECT_EQ(scope->Number(92, {std::string("Test Token"), std::string()}), -5);
}

}  // namespace
