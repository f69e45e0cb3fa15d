// Envelopes and signed envelopes with software identities, through the C
// ABI, against the openssl command line both ways; one prompt per opened
// envelope, none for sealing or for failures found before the key is used.
#include <gtest/gtest.h>

#include "control/ControlHarness.h"
#include "control/EnvelopeCli.h"
#include "control/SoftStoreFixture.h"

namespace {

class EnvelopeSoftTest : public SoftStoreFixture {
  protected:
    void SetUp() override {
        SoftStoreFixture::SetUp();
        cli = std::make_unique<EnvelopeCli>(scope->home());
    }
    std::string Pem(const TestIdentity& who) { return ReadFileText(who.cert); }
    int32_t SetCipher(const std::string& cipher) {
        return scope->Number(4, {std::string(), cipher});
    }
    // The content buffer (GetAttachedSignSource).
    std::string Buffer() { return scope->Text(35); }
    std::unique_ptr<EnvelopeCli> cli;
};

TEST_F(EnvelopeSoftTest, SealedEnvelopesOpenHereAndWithOpenssl) {
    struct Case {
        const TestIdentity* who;
        const char* cipher;  // SetAlgorithm's
        const char* printed;
    };
    const Case cases[] = {
        {&pki().rsa, "AES-256-CBC", "aes-256-cbc"},    {&pki().rsa, "DES-EDE3-CBC", "des-ede3-cbc"},
        {&pki().ec, "AES-128-CBC", "aes-128-cbc"},     {&pki().sm2, "SM4-CBC", "sm4-cbc"},
        {&pki().rsa, "AES-128-CBC,OAEP", "rsaesOaep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.who->subject) + " " + c.cipher);
        ASSERT_EQ(SetCipher(c.cipher), 0) << scope->LastMessage();
        const std::string data = "sealed 数据 " + std::string(c.cipher);
        const int start = Prompts();
        for (const std::string& recipient : {c.who->serial, Pem(*c.who)}) {
            const int before = Prompts();
            const std::string env = scope->Text(12, {data, recipient});
            ASSERT_FALSE(env.empty()) << scope->LastMessage();
            EXPECT_EQ(Prompts(), before) << "sealing needs no key";
            EXPECT_NE(cli->Print(env).find(c.printed), std::string::npos);
            EXPECT_EQ(cli->Open(*c.who, env), data);
            EXPECT_EQ(scope->Text(13, {env}), data) << scope->LastMessage();
            EXPECT_EQ(Buffer(), data);
        }
        EXPECT_EQ(Prompts(), start + 2) << "one prompt per opened envelope";
    }
}

TEST_F(EnvelopeSoftTest, ExVariantsNameTheCipherAndFillTheBuffer) {
    const std::string env =
        scope->Text(19, {std::string("ex data"), pki().ec.serial, std::string("DES-EDE3-CBC")});
    ASSERT_FALSE(env.empty()) << scope->LastMessage();
    EXPECT_NE(cli->Print(env).find("des-ede3-cbc"), std::string::npos);
    EXPECT_NE(cli->Print(scope->Text(19, {std::string("x"), pki().ec.serial, std::string()}))
                  .find("aes-256-cbc"),
              std::string::npos)
        << "\"\" is SetAlgorithm's cipher";
    EXPECT_EQ(scope->Text(19, {std::string("x"), pki().ec.serial, std::string("RC4")}), "");
    EXPECT_EQ(scope->LastCode(), -2);

    EXPECT_EQ(scope->Number(20, {env, std::string("4")}), 0) << scope->LastMessage();
    EXPECT_EQ(Base64DecodeText(Buffer()), "ex data");
    EXPECT_EQ(scope->Number(20, {env, std::string("0")}), 0);
    EXPECT_EQ(Buffer(), "ex data");
    EXPECT_EQ(scope->Number(20, {env, std::string("64")}), -2);
}

TEST_F(EnvelopeSoftTest, OpensWhatOpensslSealed) {
    struct Case {
        const TestIdentity* who;
        const char* cipher;
        const char* options;
    };
    const Case cases[] = {
        {&pki().rsa, "-aes256", ""},
        {&pki().rsa, "-des3", "-keyopt rsa_padding_mode:oaep"},
        {&pki().ec, "-aes128", ""},
        {&pki().rsa, "-sm4-cbc", "-keyid"},
    };
    const std::string binary("\x00\x01\xfe\xff binary", 11);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.who->subject) + " " + c.cipher + " " + c.options);
        const std::string env = cli->Seal(c.who->cert, binary, c.cipher, c.options);
        ASSERT_NE(env, Oracle::kFailed);
        EXPECT_EQ(scope->Number(20, {env, std::string("4")}), 0) << scope->LastMessage();
        EXPECT_EQ(Base64DecodeText(Buffer()), binary);
    }
}

TEST_F(EnvelopeSoftTest, SeveralRecipients) {
    const std::string env =
        scope->Text(12, {std::string("for both"), pki().rsa.serial + " , " + Pem(pki().ec)});
    ASSERT_FALSE(env.empty()) << scope->LastMessage();
    EXPECT_EQ(cli->Open(pki().rsa, env), "for both");
    EXPECT_EQ(cli->Open(pki().ec, env), "for both");
    EXPECT_EQ(scope->Text(13, {env}), "for both");
    EXPECT_EQ(scope->Text(12, {std::string("x"), pki().rsa.serial + ",,"}), "");
    EXPECT_EQ(scope->LastCode(), -2);
    EXPECT_EQ(scope->Text(12, {std::string("x"), std::string("0BADC0FFEE")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

TEST_F(EnvelopeSoftTest, FaultsAreCodesNotContent) {
    const std::string good =
        scope->Text(12, {std::string("twenty-three bytes here"), pki().rsa.serial});
    ASSERT_FALSE(good.empty()) << scope->LastMessage();
    std::string der = Base64DecodeText(good);
    std::string tampered = der;
    tampered[der.size() - 17] ^= 0x01;  // the padding byte of the last block
    const std::string truncated = der.substr(0, der.size() - 9);
    const std::string notMine = scope->Text(12, {std::string("x"), Pem(pki().untrusted)});
    const std::string dir = scope->home();

    struct Case {
        const char* name;
        std::string envelope;
        int32_t code;
        int prompts;
    };
    const Case cases[] = {
        {"not a recipient", notMine, -14, 0},
        {"tampered", Base64Of(dir, tampered), -14, 1},
        {"truncated", Base64Of(dir, truncated), -15, 0},
        {"not Base64", "not base64!", -15, 0},
        {"a signature", scope->Text(8, {std::string("x"), pki().ec.serial}), -15, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = Prompts();
        EXPECT_EQ(scope->Text(13, {c.envelope}), "");
        EXPECT_EQ(scope->LastCode(), c.code) << scope->LastMessage();
        EXPECT_NE(scope->LastMessage(), "OK");
        EXPECT_EQ(Prompts() - before, c.prompts);
        EXPECT_EQ(scope->Text(35), "") << "no content kept";
    }

    scope->pinentry().Set(FakePinentry::Action::kPin, "wrong password");
    EXPECT_EQ(scope->Text(13, {good}), "");
    EXPECT_EQ(scope->LastCode(), -7);
    scope->pinentry().Set(FakePinentry::Action::kCancel);
    EXPECT_EQ(scope->Number(20, {good, std::string()}), -6);
}

TEST_F(EnvelopeSoftTest, SignedEnvelopesRoundTrip) {
    struct Case {
        const TestIdentity* signer;
        const TestIdentity* recipient;
    };
    const Case cases[] = {
        {&pki().rsa, &pki().ec}, {&pki().ec, &pki().rsa}, {&pki().sm2, &pki().sm2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signer->subject + " to " + c.recipient->subject);
        const std::string data = "signed and sealed";
        int before = Prompts();
        const std::string env = scope->Text(38, {data, c.signer->serial, c.recipient->serial});
        ASSERT_FALSE(env.empty()) << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1) << "the signer is asked once";
        if (c.signer != &pki().sm2) {
            const std::string inner = cli->Open(*c.recipient, env);
            EXPECT_EQ(cli->Verify(pki().rsaCa.cert, inner), data);
        }
        before = Prompts();
        EXPECT_EQ(scope->Text(39, {env}), data) << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1) << "the recipient is asked once";
    }
    const std::string env = scope->Text(
        40, {std::string("AP8Q"), pki().rsa.serial, pki().rsa.serial, std::string("1")});
    ASSERT_FALSE(env.empty()) << scope->LastMessage();
    EXPECT_EQ(scope->Number(41, {env, std::string("4")}), 0) << scope->LastMessage();
    EXPECT_EQ(Buffer(), "AP8Q");
    EXPECT_EQ(scope->Text(38, {std::string("x"), pki().rsa.serial, std::string("0BAD")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

TEST_F(EnvelopeSoftTest, SignedEnvelopeFaults) {
    std::string signedDer = cli->Sign(pki().rsa, "inner content");
    ASSERT_NE(signedDer, Oracle::kFailed);
    std::string badSignature = signedDer;
    badSignature[badSignature.size() - 5] ^= 0x01;  // inside the signature value

    struct Case {
        const char* name;
        std::string inner;
        const char* flags;
        int32_t code;
    };
    const Case cases[] = {
        {"intact", signedDer, "0", 0},
        {"bad signature", badSignature, "0", -11},
        {"expired signer", cli->Sign(pki().expired, "inner content"), "0", -13},
        {"untrusted signer", cli->Sign(pki().untrusted, "inner content"), "0", -12},
        {"no SignedData inside", "plain content", "0", -15},
        {"untrusted, chain not checked", cli->Sign(pki().untrusted, "inner content"), "16", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string env = cli->Seal(pki().ec.cert, c.inner, "-aes256");
        ASSERT_NE(env, Oracle::kFailed);
        EXPECT_EQ(scope->Number(41, {env, std::string(c.flags)}), c.code) << scope->LastMessage();
        if (c.code == 0) {
            EXPECT_EQ(Buffer(), "inner content");
        } else {
            EXPECT_EQ(scope->Text(35), "");
            EXPECT_EQ(scope->Text(39, {env}), "");
            EXPECT_EQ(scope->LastCode(), c.code);
        }
    }
}

}  // namespace
