// SM2 envelopes and SM2/RSA public-key encryption with software
// identities, through the C ABI and against openssl pkeyutl / cms.
#include <gtest/gtest.h>

#include "control/ControlHarness.h"
#include "control/EnvelopeCli.h"
#include "control/SoftStoreFixture.h"

namespace {

class EnvelopeCipherTest : public SoftStoreFixture {
  protected:
    void SetUp() override {
        SoftStoreFixture::SetUp();
        cli = std::make_unique<EnvelopeCli>(scope->home());
    }
    int32_t Choose(const TestIdentity& who) {
        return scope->Number(5, {who.serial, std::string(), std::string(), std::string(),
                                 std::string(), std::string()});
    }
    std::unique_ptr<EnvelopeCli> cli;
};

TEST_F(EnvelopeCipherTest, Sm2EnvelopesUseSm4AndOpenWithOpenssl) {
    const std::string data = "SM2 信封";
    const std::string env = scope->Text(54, {data, pki().sm2.serial});
    ASSERT_FALSE(env.empty()) << scope->LastMessage();
    const std::string printed = cli->Print(env);
    EXPECT_NE(printed.find("sm4-cbc"), std::string::npos) << printed;
    EXPECT_NE(printed.find("1.2.156.10197.1.301.3"), std::string::npos) << printed;
    EXPECT_EQ(cli->Open(pki().sm2, env), data);
    EXPECT_EQ(scope->Text(58, {env}), data) << scope->LastMessage();
    EXPECT_EQ(scope->Text(82, {env}), data) << "the PKCS#7-OID form";
    const std::string ex =
        scope->Text(55, {std::string("AP8Q"), pki().sm2.serial, std::string("1")});
    EXPECT_EQ(scope->Number(59, {ex, std::string("4")}), 0) << scope->LastMessage();
    EXPECT_EQ(scope->Text(35), "AP8Q");
    EXPECT_EQ(Prompts(), 3);
}

TEST_F(EnvelopeCipherTest, Sm2CommandsRefuseOtherKeys) {
    const std::string rsaEnv = scope->Text(12, {std::string("x"), pki().rsa.serial});
    struct Case {
        const char* name;
        int32_t dispid;
        std::vector<Arg> args;
        int32_t code;
    };
    const Case cases[] = {
        {"envelope to RSA", 54, {std::string("x"), pki().rsa.serial}, -10},
        {"envelope to SM2 and EC",
         55,
         {std::string("x"), pki().sm2.serial + "," + pki().ec.serial, std::string()},
         -10},
        {"open an RSA envelope", 58, {rsaEnv}, -10},
        {"SM2 encryption to RSA", 60, {std::string("x"), pki().rsa.serial}, -10},
        {"GM/T 0010 envelope to RSA", 83, {std::string("x"), pki().rsa.serial}, -10},
        {"GM/T 0010 soft envelope to EC", 119, {std::string("x"), pki().ec.serial}, -10},
        {"RSA encryption to SM2", 47, {std::string("x"), pki().sm2.serial}, -10},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scope->Text(c.dispid, c.args), "") << c.name;
        EXPECT_EQ(scope->LastCode(), c.code) << c.name << ": " << scope->LastMessage();
    }
    EXPECT_EQ(Prompts(), 0);
}

TEST_F(EnvelopeCipherTest, GmEnvelopesRoundTrip) {
    const std::string data = "GM/T 0010 信封";
    for (int32_t dispid : {83, 119}) {
        SCOPED_TRACE(dispid);
        const int before = Prompts();
        const std::string env = scope->Text(dispid, {data, pki().sm2.serial});
        ASSERT_FALSE(env.empty()) << scope->LastMessage();
        EXPECT_EQ(Prompts(), before) << "sealing needs no key";
        const std::string printed = cli->Print(env);
        for (const char* part : {"contentType: undefined (1.2.156.10197.6.1.4.2.3)",
                                 ":1.2.156.10197.6.1.4.2.1", ":1.2.156.10197.1.301.3", ":sm4-cbc"})
            EXPECT_NE(printed.find(part), std::string::npos) << part << "\n" << printed;
        EXPECT_EQ(scope->Text(82, {env}), data) << scope->LastMessage();
        EXPECT_EQ(scope->Number(59, {env, std::string("4")}), 0) << scope->LastMessage();
        EXPECT_EQ(Base64DecodeText(scope->Text(35)), data);
    }
    EXPECT_EQ(Prompts(), 4);
    std::string damaged = Base64DecodeText(scope->Text(83, {data, pki().sm2.serial}));
    damaged.resize(damaged.size() - 4);
    EXPECT_EQ(scope->Text(82, {Base64Of(scope->home(), damaged)}), "");
    EXPECT_EQ(scope->LastCode(), -15);
}

TEST_F(EnvelopeCipherTest, Sm2EncryptionBothWaysWithPkeyutl) {
    const std::string data = "SM2 明文";
    const std::string ct = scope->Text(60, {data, pki().sm2.serial});
    ASSERT_FALSE(ct.empty()) << scope->LastMessage();
    EXPECT_EQ(cli->KeyDecrypt(pki().sm2, ct), data);
    EXPECT_EQ(Prompts(), 0);

    ASSERT_EQ(Choose(pki().sm2), 0) << scope->LastMessage();
    const std::string fromCli = cli->KeyEncrypt(pki().sm2, data);
    ASSERT_NE(fromCli, Oracle::kFailed);
    EXPECT_EQ(scope->Text(61, {fromCli}), data) << scope->LastMessage();
    EXPECT_EQ(scope->Text(61, {ct}), data);
    EXPECT_EQ(Prompts(), 2);
    std::string damaged = Base64DecodeText(ct);
    damaged.back() ^= 0x01;
    EXPECT_EQ(scope->Text(61, {Base64Of(scope->home(), damaged)}), "");
    EXPECT_EQ(scope->LastCode(), -14);

    ASSERT_EQ(Choose(pki().rsa), 0);
    const int before = Prompts();
    EXPECT_EQ(scope->Text(61, {ct}), "");
    EXPECT_EQ(scope->LastCode(), -10);
    EXPECT_EQ(Prompts(), before) << "refused before the key is asked for";
}

TEST_F(EnvelopeCipherTest, Sm2BatchesAskOnce) {
    EXPECT_EQ(scope->Number(53), -18);
    EXPECT_EQ(scope->Number(57), -18);
    ASSERT_EQ(Choose(pki().rsa), 0);
    EXPECT_EQ(scope->Number(52), -10);
    EXPECT_EQ(scope->Number(56), -10);
    ASSERT_EQ(Choose(pki().sm2), 0);
    EXPECT_EQ(scope->Number(52), 0);
    EXPECT_EQ(scope->Number(53), 0);
    EXPECT_EQ(scope->Number(53), -18);

    const std::string ct = scope->Text(60, {std::string("batch"), pki().sm2.serial});
    EXPECT_EQ(scope->Number(56), 0) << scope->LastMessage();
    EXPECT_EQ(Prompts(), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(scope->Text(61, {ct}), "batch");
    EXPECT_EQ(Prompts(), 1) << "no prompts inside the window";
    EXPECT_EQ(scope->Number(57), 0);
    EXPECT_EQ(scope->Number(57), -18);
    EXPECT_EQ(scope->Text(61, {ct}), "batch");
    EXPECT_EQ(Prompts(), 2);
}

TEST_F(EnvelopeCipherTest, RsaEncryptionBothWaysWithPkeyutl) {
    ASSERT_EQ(Choose(pki().rsa), 0);
    for (const char* cipher : {"AES-256-CBC", "AES-256-CBC,OAEP"}) {
        SCOPED_TRACE(cipher);
        const bool oaep = std::string(cipher).find("OAEP") != std::string::npos;
        const std::string options = oaep ? EnvelopeCli::kOaep : "";
        ASSERT_EQ(scope->Number(4, {std::string(), std::string(cipher)}), 0);
        const std::string ct = scope->Text(47, {std::string("RSA 明文"), pki().rsa.serial});
        ASSERT_FALSE(ct.empty()) << scope->LastMessage();
        EXPECT_EQ(cli->KeyDecrypt(pki().rsa, ct, options), "RSA 明文");
        const int before = Prompts();
        EXPECT_EQ(scope->Text(48, {cli->KeyEncrypt(pki().rsa, "from openssl", options)}),
                  "from openssl")
            << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1);

        const size_t limit = oaep ? 256 - 66 : 256 - 11;
        EXPECT_FALSE(scope->Text(47, {std::string(limit, 'a'), pki().rsa.serial}).empty());
        EXPECT_EQ(scope->Text(47, {std::string(limit + 1, 'a'), pki().rsa.serial}), "");
        EXPECT_EQ(scope->LastCode(), -2);
    }
    EXPECT_EQ(scope->Text(48, {std::string("AAAA")}), "");
    EXPECT_EQ(scope->LastCode(), -15) << "not a ciphertext of this key's size";
}

}  // namespace
