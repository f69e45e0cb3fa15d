// Seals and licence data on a SoftHSM token through the real module: reads
// never ask for the PIN, writes ask once and land on the selected
// certificate's token.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "control/ControlHarness.h"
#include "control/Oracle.h"

namespace {

constexpr int32_t kLoadSealFromKey = 34, kGmPicture = 98, kPicByCertSn = 104, kGmData = 121,
                  kSealIndata = 148, kSealData = 149, kWriteSeal = 150, kReadSeal = 151,
                  kWriteLicence = 152, kReadLicence = 153, kWriteByType = 189, kReadByType = 190,
                  kSealInfos = 199, kSignSeal = 64;

class SealTokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(true);
        scope->token()->Import(pki().rsa, "01", "rsa key");
        scope->TrustTestCas();
        scope->pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
        ASSERT_EQ(Select(pki().rsa.serial), 0) << scope->LastMessage();
    }
    static const TestPki& pki() { return TestPki::Shared(); }
    int32_t Select(const std::string& serial) {
        return scope->Number(2, {serial, std::string(), std::string(), std::string(), std::string(),
                                 std::string(), std::string()});
    }
    std::string B64(const std::string& bytes) { return Base64Of(scope->home(), bytes); }
    int Prompts() { return scope->pinentry().PinPrompts(); }
    // Writes a public seal object as another tool would, without our module.
    void WriteWithTool(const std::string& label, const std::string& recordJson) {
        const std::string file = WriteScratch(scope->home(), "record.json", recordJson);
        const CommandResult r = RunShell(scope->token()->ToolPrefix() + " --write-object " +
                                         ShellQuote(file) + " --type data --label " +
                                         ShellQuote(label) + " --application-label zqtca.seal");
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }

    std::unique_ptr<ControlScope> scope;
};

TEST_F(SealTokenTest, WrittenOnceReadByEveryReadCommand) {
    const std::string picture = "\x89PNG\r\n\x1a\n picture bytes";
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("Finance seal"), B64(picture)}), 0)
        << scope->LastMessage();
    EXPECT_EQ(Prompts(), 1) << "a write asks for the PIN once";
    const std::vector<std::string> lines = scope->pinentry().Lines();
    const bool named = std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("SETDESC", 0) == 0 && line.find("Write seal Finance seal") != line.npos &&
               line.find("Test Token") != line.npos;
    });
    EXPECT_TRUE(named) << "the prompt names the operation and the token";

    const std::string serial = scope->token()->Serial();
    for (const std::string& sel : {std::string(), std::string("Test Token"), serial}) {
        EXPECT_EQ(
            Base64DecodeText(scope->Text(kLoadSealFromKey, {sel, std::string("Finance seal")})),
            picture)
            << sel;
    }
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadSeal, {std::string("Finance seal")})), picture);
    EXPECT_EQ(Base64DecodeText(scope->Text(kSealData, {std::string("Finance seal")})), picture);
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadByType, {std::string("Finance seal"), int32_t{1}})),
              picture);
    EXPECT_EQ(Base64DecodeText(scope->Text(kPicByCertSn, {pki().rsa.serial})), picture);

    const nlohmann::json meta =
        nlohmann::json::parse(scope->Text(kSealIndata, {std::string("Finance seal")}));
    EXPECT_EQ(meta["name"], "Finance seal");
    EXPECT_EQ(meta["type"], 1);
    EXPECT_EQ(meta["format"], "png");
    EXPECT_EQ(meta["certSn"], pki().rsa.serial);
    EXPECT_FALSE(meta.contains("data"));

    for (const std::string& sel : {std::string(), std::string("Test Token")}) {
        const nlohmann::json infos = nlohmann::json::parse(scope->Text(kSealInfos, {sel}));
        ASSERT_EQ(infos.size(), 1u) << infos.dump();
        EXPECT_EQ(infos[0]["name"], "Finance seal");
        EXPECT_EQ(infos[0]["store"], "pkcs11");
        EXPECT_FALSE(infos[0].contains("data"));
    }
    EXPECT_EQ(Prompts(), 1) << "reads never ask";
}

TEST_F(SealTokenTest, WhatIsNotThereAnswersItsCode) {
    const struct {
        int32_t dispid;
        std::vector<Arg> args;
        int32_t code;
    } cases[] = {
        {kReadSeal, {std::string("missing")}, -4},
        {kReadSeal, {std::string()}, -2},
        {kLoadSealFromKey, {std::string("No Such Token"), std::string("x")}, -5},
        {kReadByType, {std::string("missing"), int32_t{2}}, -4},
        {kGmData, {std::string()}, -4},
        {kGmPicture, {std::string()}, -4},
        {kPicByCertSn, {std::string("not hex")}, -2},
        {kPicByCertSn, {std::string("0BADC0FFEE")}, -4},
        {kSealInfos, {std::string("No Such Token")}, -5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dispid);
        EXPECT_EQ(scope->Text(c.dispid, c.args), "");
        EXPECT_EQ(scope->LastCode(), c.code) << scope->LastMessage();
    }
    EXPECT_EQ(scope->Text(kSealInfos, {std::string()}), "[]");
}

TEST_F(SealTokenTest, BadWritesAreRefusedBeforeAsking) {
    const struct {
        std::vector<Arg> args;
        int32_t code;
    } cases[] = {
        {{std::string(), B64("x")}, -2},
        {{std::string("n"), std::string()}, -2},
        {{std::string("n"), std::string("@@not base64@@")}, -15},
        {{std::string("n"), std::string(12u << 20, 'A')}, -2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(scope->Number(kWriteSeal, c.args), c.code) << scope->LastMessage();
    EXPECT_EQ(scope->Number(kWriteByType, {std::string("n"), B64("x"), int32_t{0}}), -2);
    EXPECT_EQ(Prompts(), 0);
    scope->pinentry().Set(FakePinentry::Action::kCancel);
    EXPECT_EQ(scope->Number(kWriteSeal, {std::string("n"), B64("x")}), -6);
    scope->pinentry().Set(FakePinentry::Action::kPin, "000000");
    EXPECT_EQ(scope->Number(kWriteSeal, {std::string("n"), B64("x")}), -7);
    EXPECT_EQ(scope->Text(kReadSeal, {std::string("n")}), "") << "nothing was written";
}

TEST_F(SealTokenTest, APublicSealOfAnotherToolIsReadWithoutAnyPrompt) {
    const std::string record = R"({"v":1,"name":"Tool seal","type":1,"format":"bmp","certSn":")" +
                               pki().rsa.serial + R"(","data":")" + B64("BM tool picture") + "\"}";
    WriteWithTool("Tool seal", record);
    scope->pinentry().ClearLog();
    EXPECT_EQ(
        Base64DecodeText(scope->Text(kLoadSealFromKey, {std::string(), std::string("Tool seal")})),
        "BM tool picture");
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadSeal, {std::string("Tool seal")})),
              "BM tool picture");
    EXPECT_NE(scope->Text(kSealInfos, {std::string()}).find("Tool seal"), std::string::npos);
    EXPECT_EQ(scope->pinentry().PinPrompts(), 0);
    EXPECT_TRUE(scope->pinentry().Lines().empty()) << "pinentry was not even started";
}

TEST_F(SealTokenTest, OddNamesReplacementAndTypes) {
    const std::string names[] = {"quote \" back\\slash", "line\nbreak", "../../etc/passwd", "..",
                                 "\xe5\x8d\xb0\xe7\xab\xa0 seal"};
    for (const std::string& name : names) {
        ASSERT_EQ(scope->Number(kWriteSeal, {name, B64("first " + name)}), 0) << name;
        ASSERT_EQ(scope->Number(kWriteSeal, {name, B64("second " + name)}), 0) << name;
        ASSERT_EQ(scope->Number(kWriteByType, {name, B64("\x30gm " + name), int32_t{2}}), 0);
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Base64DecodeText(scope->Text(kReadSeal, {name})), "second " + name);
        EXPECT_EQ(Base64DecodeText(scope->Text(kReadByType, {name, int32_t{2}})), "\x30gm " + name);
    }
    const nlohmann::json infos = nlohmann::json::parse(scope->Text(kSealInfos, {std::string()}));
    EXPECT_EQ(infos.size(), 2 * std::size(names)) << "replaced by name and type, not added";
    EXPECT_EQ(Base64DecodeText(scope->Text(kGmData, {std::string("Test Token")})).substr(0, 4),
              "\x30gm ");
    EXPECT_EQ(scope->Text(kGmPicture, {std::string()}), "");
    EXPECT_EQ(scope->LastCode(), -3) << "GB/T 38540 pictures cannot be extracted";
}

TEST_F(SealTokenTest, GmPictureServesATypeOneRecordWhenThereIsNoTypeTwo) {
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("pic"), B64("BM picture")}), 0);
    EXPECT_EQ(Base64DecodeText(scope->Text(kGmPicture, {std::string()})), "BM picture");
}

TEST_F(SealTokenTest, LicenceDataIsPrivateAndReadWithThePin) {
    ASSERT_EQ(scope->Number(kWriteLicence, {std::string("licence"), B64("licence bytes")}), 0)
        << scope->LastMessage();
    EXPECT_EQ(Base64DecodeText(scope->Text(kReadLicence, {std::string("licence")})),
              "licence bytes");
    EXPECT_EQ(Prompts(), 2) << "the read needs a login too";
    EXPECT_EQ(scope->Text(kReadSeal, {std::string("licence")}), "") << "not a seal";
    const CommandResult anonymous =
        RunShell("SOFTHSM2_CONF=" + ShellQuote(scope->home() + "/softhsm/softhsm2.conf") +
                 " pkcs11-tool --module " + SoftHsmToken::kModule +
                 " --token-label 'Test Token' --list-objects 2>&1");
    EXPECT_EQ(anonymous.output.find("licence"), std::string::npos) << anonymous.output;
    const CommandResult loggedIn =
        RunShell(scope->token()->ToolPrefix() + " --list-objects --type data 2>&1");
    EXPECT_NE(loggedIn.output.find("zqtca.licence"), std::string::npos) << loggedIn.output;
    EXPECT_EQ(scope->Text(kReadLicence, {std::string("other")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

TEST_F(SealTokenTest, APulledToken) {
    // Chosen by token, the certificate's absence is the token's.
    ASSERT_EQ(scope->Number(2, {pki().rsa.serial, std::string(), std::string(), std::string(),
                                std::string(), std::string(), std::string("Test Token")}),
              0);
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("S"), B64("x")}), 0);
    scope->token()->Delete();
    EXPECT_EQ(scope->Text(kLoadSealFromKey, {std::string("Test Token"), std::string("S")}), "");
    EXPECT_EQ(scope->LastCode(), -5);
    EXPECT_EQ(scope->Text(kGmData, {std::string()}), "");
    EXPECT_EQ(scope->LastCode(), -5);
    EXPECT_EQ(scope->Number(kWriteSeal, {std::string("S"), B64("y")}), -5) << scope->LastMessage();
    EXPECT_EQ(scope->Number(kWriteLicence, {std::string("S"), B64("y")}), -5);
}

TEST_F(SealTokenTest, WithoutASelectedCertificateNothingIsWritten) {
    Select("0BADC0FFEE");
    EXPECT_EQ(scope->Number(kWriteSeal, {std::string("S"), B64("x")}), -4);
    EXPECT_EQ(scope->Number(kWriteLicence, {std::string("S"), B64("x")}), -4);
    EXPECT_EQ(Prompts(), 0);
}

TEST_F(SealTokenTest, SignSealFindsTheBindingOnTheToken) {
    ASSERT_EQ(scope->Number(kWriteSeal, {std::string("Signing seal"), B64("BM seal")}), 0);
    ASSERT_EQ(Select(std::string()), 0) << "the seal's binding chooses the key";
    const std::string cms =
        scope->Text(kSignSeal, {std::string("to be sealed"), std::string("Signing seal")});
    ASSERT_FALSE(cms.empty()) << scope->LastMessage();
    const std::string content = "to be sealed";
    Oracle oracle(scope->home());
    EXPECT_EQ(oracle.VerifyCms(pki().rsaCa.cert, cms, &content), content);
    EXPECT_EQ(scope->Text(kSignSeal, {std::string("x"), std::string("no such seal")}), "");
    EXPECT_EQ(scope->LastCode(), -4);
}

}  // namespace
