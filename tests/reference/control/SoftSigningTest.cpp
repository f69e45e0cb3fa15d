// Signing with software identities, as a page does it, checked with the
// openssl command line; each private-key use asks exactly once.
#include <gtest/gtest.h>

#include "control/ControlHarness.h"
#include "control/Oracle.h"
#include "control/SoftStoreFixture.h"

namespace {

class SoftSigningTest : public SoftStoreFixture {
  protected:
    void SetUp() override {
        SoftStoreFixture::SetUp();
        oracle = std::make_unique<Oracle>(scope->home());
    }
    std::unique_ptr<Oracle> oracle;
};

TEST_F(SoftSigningTest, RawSignaturesVerifyWithOpenssl) {
    struct Case {
        const TestIdentity* who;
        const char* hashName;  // SetAlgorithm's name ("" keeps SHA256)
        const char* oracleHash;
    };
    const Case cases[] = {
        {&pki().rsa, "", "sha256"},       {&pki().rsa, "SHA1", "sha1"},
        {&pki().rsa, "SHA384", "sha384"}, {&pki().rsa, "sha512", "sha512"},
        {&pki().ec, "SHA256", "sha256"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.who->subject) + " " + c.oracleHash);
        ASSERT_EQ(scope->Number(4, {std::string(c.hashName), std::string()}), 0);
        const int before = Prompts();
        const std::string data = "hello, 世界";
        const std::string sig = scope->Text(10, {data, c.who->serial});
        ASSERT_FALSE(sig.empty()) << scope->LastMessage();
        EXPECT_EQ(Prompts(), before + 1);
        EXPECT_TRUE(oracle->VerifyRaw(*c.who, c.oracleHash, data, sig));
        EXPECT_FALSE(oracle->VerifyRaw(*c.who, c.oracleHash, data + "!", sig));
        EXPECT_EQ(scope->LastMessage(), "OK");
        EXPECT_EQ(scope->Number(11, {data, sig, c.who->serial}), 0) << scope->LastMessage();
        EXPECT_EQ(scope->Number(11, {data + "!", sig, c.who->serial}), -11);
    }
}

TEST_F(SoftSigningTest, SignExTakesBase64InputAndRawEcForm) {
    const std::string binary("\x00\xff\x10 binary", 10);
    const std::string sig =
        scope->Text(25, {std::string("AP8QIGJpbmFyeQ=="), pki().rsa.serial, std::string("1")});
    ASSERT_FALSE(sig.empty()) << scope->LastMessage();
    EXPECT_TRUE(oracle->VerifyRaw(pki().rsa, "sha256", binary, sig));

    const std::string rs =
        scope->Text(25, {std::string("data"), pki().ec.serial, std::string("8")});
    ASSERT_EQ(Base64DecodeText(rs).size(), 64u);
    EXPECT_TRUE(oracle->VerifyRaw(
        pki().ec, "sha256", "data",
        scope->Text(25, {std::string("data"), pki().ec.serial, std::string("0")})));
    EXPECT_EQ(scope->Number(26, {std::string("data"), rs, pki().ec.serial, std::string("0")}), 0);
    EXPECT_EQ(scope->Text(25, {std::string("data"), pki().ec.serial, std::string("64")}), "");
    EXPECT_EQ(scope->LastCode(), -2);
    EXPECT_EQ(scope->Text(25, {std::string("not base64!"), pki().rsa.serial, std::string("1")}),
              "");
    EXPECT_EQ(scope->LastCode(), -15);
}

TEST_F(SoftSigningTest, SignhashSignsAReadyDigest) {
    const std::string digest = RunShell("printf hello | openssl dgst -sha256 -binary").output;
    const std::string digestB64 =
        RunShell("printf hello | openssl dgst -sha256 -binary | base64 -w0").output;
    const std::string sig = scope->Text(128, {digestB64, int32_t{2}, pki().rsa.serial});
    ASSERT_FALSE(sig.empty()) << scope->LastMessage();
    EXPECT_TRUE(oracle->VerifyRaw(pki().rsa, "sha256", "hello", sig));
    EXPECT_EQ(scope->Text(128, {std::string("AAEC"), int32_t{2}, pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -2) << "a digest of the wrong length";
    EXPECT_EQ(scope->Text(128, {digestB64, int32_t{2}, pki().sm2.serial}), "");
    EXPECT_EQ(scope->LastCode(), -10);
}

TEST_F(SoftSigningTest, CmsSignaturesVerifyWithOpensslAndThemselves) {
    for (const TestIdentity* who : {&pki().rsa, &pki().ec}) {
        SCOPED_TRACE(who->subject);
        const std::string data = "contract text";
        const std::string attached = scope->Text(8, {data, who->serial});
        ASSERT_FALSE(attached.empty()) << scope->LastMessage();
        EXPECT_EQ(oracle->VerifyCms(pki().rsaCa.cert, attached, nullptr), data);
        EXPECT_EQ(scope->Number(9, {attached}), 0) << scope->LastMessage();
        EXPECT_EQ(scope->Text(35), data);
        EXPECT_EQ(scope->Number(24, {attached}), 0);
        EXPECT_EQ(Base64DecodeText(scope->Text(35)), data);

        const std::string detached = scope->Text(6, {data, who->serial});
        ASSERT_FALSE(detached.empty()) << scope->LastMessage();
        EXPECT_EQ(oracle->VerifyCms(pki().rsaCa.cert, detached, &data), data);
        EXPECT_EQ(scope->Number(7, {detached, data}), 0) << scope->LastMessage();
        EXPECT_EQ(scope->Number(7, {detached, data + "."}), -11);
        EXPECT_EQ(
            scope->Number(22, {detached, std::string("Y29udHJhY3QgdGV4dA=="), std::string("1")}),
            0);
    }
}

TEST_F(SoftSigningTest, Sm2SignaturesUseTheGmId) {
    const std::string data = "SM2 数据";
    const std::string der = scope->Text(49, {data, pki().sm2.serial});
    ASSERT_FALSE(der.empty()) << scope->LastMessage();
    EXPECT_TRUE(oracle->VerifySm2(pki().sm2, data, der, "1234567812345678"));
    EXPECT_FALSE(oracle->VerifySm2(pki().sm2, data, der, "")) << "the empty id must not verify";
    EXPECT_EQ(scope->Number(15, {data, der, pki().sm2.serial}), 0) << scope->LastMessage();
    EXPECT_EQ(scope->Number(15, {data + "x", der, pki().sm2.serial}), -11);

    const std::string own = scope->Text(50, {data, pki().sm2.serial, std::string("alice@example")});
    EXPECT_TRUE(oracle->VerifySm2(pki().sm2, data, own, "alice@example"));
    EXPECT_EQ(scope->Number(28, {data, own, pki().sm2.serial, std::string("alice@example")}), 0);
    EXPECT_EQ(scope->Number(28, {data, own, pki().sm2.serial, std::string()}), -11);

    const std::string rs = scope->Text(96, {data, pki().sm2.serial});
    ASSERT_EQ(Base64DecodeText(rs).size(), 64u);
    const std::string rsAsDerB64 = Base64Of(scope->home(), Oracle::RsToDer(Base64DecodeText(rs)));
    EXPECT_TRUE(oracle->VerifySm2(pki().sm2, data, rsAsDerB64, "1234567812345678"));
    EXPECT_EQ(scope->Number(94, {data, rs, pki().sm2.serial}), 0);
    EXPECT_EQ(scope->Number(94, {data, der, pki().sm2.serial}), 0) << "both forms verify";

    const std::string ex3 = scope->Text(27, {std::string("AAEC"), pki().sm2.serial});
    EXPECT_TRUE(
        oracle->VerifySm2(pki().sm2, std::string("\x00\x01\x02", 3), ex3, "1234567812345678"));
}

TEST_F(SoftSigningTest, Sm2CmsVerifiesWithTheGmId) {
    const std::string data = "SM2 signed content";
    const std::string attached = scope->Text(76, {data, pki().sm2.serial});
    ASSERT_FALSE(attached.empty()) << scope->LastMessage();
    EXPECT_TRUE(oracle->VerifySm2Cms(pki().sm2, attached, nullptr));
    EXPECT_EQ(scope->Number(77, {attached}), 0) << scope->LastMessage();
    EXPECT_EQ(scope->Text(35), data);
    const std::string detached = scope->Text(74, {data, pki().sm2.serial});
    EXPECT_TRUE(oracle->VerifySm2Cms(pki().sm2, detached, &data));
    EXPECT_EQ(scope->Number(75, {detached, data}), 0) << scope->LastMessage();
    EXPECT_EQ(scope->Number(75, {detached, data + "!"}), -11);
    EXPECT_EQ(scope->Number(77, {scope->Text(8, {data, pki().rsa.serial})}), -10)
        << "an RSA signature is not an SM2 one";
}

TEST_F(SoftSigningTest, Sm2DigestSigning) {
    // e = SM3(Z || M) is the caller's; any 32 bytes will do for the oracle.
    const std::string e(32, '\x5a');
    const std::string eB64 = Base64Of(scope->home(), e);
    const std::string rs = scope->Text(100, {eB64, pki().sm2.serial});
    ASSERT_EQ(Base64DecodeText(rs).size(), 64u) << scope->LastMessage();
    const std::string derB64 = Base64Of(scope->home(), Oracle::RsToDer(Base64DecodeText(rs)));
    EXPECT_TRUE(oracle->VerifySm2Digest(pki().sm2, e, derB64));
    EXPECT_EQ(scope->Text(100, {std::string("AAEC"), pki().sm2.serial}), "");
    EXPECT_EQ(scope->LastCode(), -2);
}

TEST_F(SoftSigningTest, Sm2CommandsRefuseOtherKeys) {
    for (int32_t dispid : {49, 96, 76, 74}) {
        SCOPED_TRACE(dispid);
        EXPECT_EQ(scope->Text(dispid, {std::string("x"), pki().rsa.serial}), "");
        EXPECT_EQ(scope->LastCode(), -10);
    }
    EXPECT_EQ(Prompts(), 0) << "a refused key is never unlocked";
}

TEST_F(SoftSigningTest, TheSigningWindowAsksOnce) {
    ASSERT_EQ(scope->Number(42, {pki().sm2.serial}), 0) << scope->LastMessage();
    EXPECT_EQ(Prompts(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(scope->Text(49, {std::string("batch"), pki().sm2.serial}).empty());
    }
    EXPECT_EQ(Prompts(), 1) << "no prompt inside the window";
    EXPECT_FALSE(scope->Text(10, {std::string("other"), pki().rsa.serial}).empty());
    EXPECT_EQ(Prompts(), 2) << "another key asks as usual";
    EXPECT_EQ(scope->Number(43), 0);
    EXPECT_EQ(scope->Number(43), -18) << "Final without Init";
    EXPECT_FALSE(scope->Text(49, {std::string("after"), pki().sm2.serial}).empty());
    EXPECT_EQ(Prompts(), 3) << "the window is closed";
    EXPECT_EQ(scope->Number(42, {pki().rsa.serial}), -10);
}

TEST_F(SoftSigningTest, PromptOutcomes) {
    struct Case {
        FakePinentry::Action action;
        const char* pin;
        int32_t code;
    };
    const Case cases[] = {
        {FakePinentry::Action::kPin, "wrong", -7},
        {FakePinentry::Action::kCancel, "", -6},
        {FakePinentry::Action::kTimeout, "", -6},
        {FakePinentry::Action::kCrash, "", -6},
    };
    for (const Case& c : cases) {
        scope->pinentry().Set(c.action, c.pin);
        EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
        EXPECT_EQ(scope->LastCode(), c.code) << scope->LastMessage();
    }
    setenv("ZQT_PINENTRY", "/nonexistent/pinentry", 1);
    scope->Recreate();
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -6);
}

// The page's origin starts every prompt; the page chose it, so it cannot
// add a line or an Assuan command, and no origin is said as such.
TEST_F(SoftSigningTest, ThePromptNamesThePage) {
    struct Case {
        std::string origin;
        std::string starts;
    };
    const Case cases[] = {
        {"https://bank.example", "SETDESC https://bank.example asks to use your private key: "},
        {"", "SETDESC A local caller (no web page given) asks to use your private key: "},
        {"https://x\nGETPIN 100%", "SETDESC https://x?GETPIN?100%25 asks to "},
    };
    for (const Case& c : cases) {
        scope->pinentry().Set(FakePinentry::Action::kPin, kPassword);
        scope->SetCaller(c.origin);
        ASSERT_FALSE(scope->Text(10, {std::string("x"), pki().rsa.serial}).empty())
            << scope->LastMessage();
        std::vector<std::string> descs;
        int getpins = 0;
        for (const std::string& line : scope->pinentry().Lines()) {
            if (line.rfind("SETDESC ", 0) == 0)
                descs.push_back(line);
            getpins += line == "GETPIN";
        }
        ASSERT_FALSE(descs.empty());
        EXPECT_EQ(descs.back().rfind(c.starts, 0), 0u) << descs.back();
        EXPECT_NE(descs.back().find("rsa leaf"), std::string::npos) << descs.back();
        EXPECT_EQ(static_cast<size_t>(getpins), descs.size()) << "one GETPIN per prompt";
    }
}

TEST_F(SoftSigningTest, ThePromptNamesTheCertificate) {
    ASSERT_FALSE(scope->Text(10, {std::string("x"), pki().rsa.serial}).empty());
    std::string desc;
    for (const std::string& line : scope->pinentry().Lines()) {
        if (line.rfind("SETDESC ", 0) == 0)
            desc = line;
    }
    EXPECT_NE(desc.find("rsa leaf"), std::string::npos) << desc;
    EXPECT_NE(desc.find(pki().rsa.serial), std::string::npos) << desc;
    for (const std::string& line : scope->pinentry().Lines()) {
        EXPECT_EQ(line.find(kPassword), std::string::npos) << "the password is never sent";
    }
}

TEST_F(SoftSigningTest, BadSignaturesAndCertificates) {
    const std::string sig = scope->Text(10, {std::string("x"), pki().rsa.serial});
    struct Case {
        std::string data, sig, cert;
        int32_t code;
    };
    const Case cases[] = {
        {"x", "@@@", pki().rsa.serial, -15},
        {"x", sig, "0BADC0FFEE", -4},
        {"x", sig, RunShell("cat " + pki().expired.cert).output, -11},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scope->Number(11, {c.data, c.sig, c.cert}), c.code) << scope->LastMessage();
    }
    EXPECT_EQ(scope->Number(9, {std::string("MIIB")}), -15);
    EXPECT_EQ(scope->Text(10, {std::string("x"), std::string("0BADC0FFEE")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

}  // namespace
