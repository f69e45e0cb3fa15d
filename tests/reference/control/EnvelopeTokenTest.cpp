// Envelopes and RSA decryption with keys on a SoftHSM2 token: RSA through
// C_Decrypt, EC through ECDH derivation (CKA_DERIVE).
#include <gtest/gtest.h>

#include "control/ControlHarness.h"
#include "control/EnvelopeCli.h"

namespace {

class EnvelopeTokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        SoftHsmToken& token = *scope->token();
        token.Import(pki().rsa, "01", "rsa key");
        token.Import(pki().ec, "02", "ec key", "--usage-sign --usage-decrypt --usage-derive");
        scope->TrustTestCas();
        scope->pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
        cli = std::make_unique<EnvelopeCli>(scope->home());
    }
    static const TestPki& pki() { return TestPki::Shared(); }
    int Prompts() { return scope->pinentry().PinPrompts(); }

    std::unique_ptr<ControlScope> scope;
    std::unique_ptr<EnvelopeCli> cli;
};

TEST_F(EnvelopeTokenTest, TokenKeysOpenEnvelopes) {
    for (const TestIdentity* who : {&pki().rsa, &pki().ec}) {
        SCOPED_TRACE(who->subject);
        const std::string env = scope->Text(12, {std::string("for the token"), who->serial});
        ASSERT_FALSE(env.empty()) << scope->LastMessage();
        EXPECT_EQ(cli->Open(*who, env), "for the token");
        int before = Prompts();
        EXPECT_EQ(scope->Text(13, {env}), "for the token") << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1);
        const std::string fromCli = cli->Seal(who->cert, "sealed by openssl", "-aes256");
        EXPECT_EQ(scope->Text(13, {fromCli}), "sealed by openssl") << scope->LastMessage();
        before = Prompts();
        EXPECT_EQ(scope->Text(38, {std::string("signed"), who->serial, who->serial}).empty(), false)
            << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1);
    }
    const std::string env =
        scope->Text(38, {std::string("both"), pki().ec.serial, pki().rsa.serial});
    const int before = Prompts();
    EXPECT_EQ(scope->Text(39, {env}), "both") << scope->LastMessage();
    EXPECT_EQ(Prompts(), before + 1);
}

TEST_F(EnvelopeTokenTest, OaepEnvelopeAndRsaDecryption) {
    ASSERT_EQ(scope->Number(4, {std::string(), std::string("AES-256-CBC,OAEP")}), 0);
    const std::string env = scope->Text(12, {std::string("oaep"), pki().rsa.serial});
    EXPECT_EQ(scope->Text(13, {env}), "oaep") << scope->LastMessage();

    ASSERT_EQ(scope->Number(5, {pki().rsa.serial, std::string(), std::string(), std::string(),
                                std::string(), std::string()}),
              0);
    for (bool oaep : {true, false}) {
        SCOPED_TRACE(oaep ? "OAEP" : "PKCS#1 v1.5");
        ASSERT_EQ(scope->Number(
                      4, {std::string(), std::string(oaep ? "AES-256-CBC,OAEP" : "AES-256-CBC")}),
                  0);
        const std::string ct =
            cli->KeyEncrypt(pki().rsa, "token secret", oaep ? EnvelopeCli::kOaep : "");
        EXPECT_EQ(scope->Text(48, {ct}), "token secret") << scope->LastMessage();
    }
}

TEST_F(EnvelopeTokenTest, PinFaults) {
    const std::string env = scope->Text(12, {std::string("x"), pki().rsa.serial});
    scope->pinentry().Set(FakePinentry::Action::kPin, "000000");
    EXPECT_EQ(scope->Text(13, {env}), "");
    EXPECT_EQ(scope->LastCode(), -7) << scope->LastMessage();
    scope->pinentry().Set(FakePinentry::Action::kCancel);
    EXPECT_EQ(scope->Number(20, {env, std::string()}), -6);
    const std::string notMine = scope->Text(12, {std::string("x"), ReadFileText(pki().sm2.cert)});
    const int before = Prompts();
    EXPECT_EQ(scope->Number(20, {notMine, std::string()}), -14);
    EXPECT_EQ(Prompts(), before);
}

}  // namespace
