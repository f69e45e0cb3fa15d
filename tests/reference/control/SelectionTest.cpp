// Choosing certificates and algorithms, describing certificates, the last
// error, versions, machine information and PKCS#12 downloads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "control/ControlHarness.h"
#include "control/Oracle.h"

namespace {

constexpr const char* kPassword = "pw";

class SelectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scope = std::make_unique<ControlScope>(false);
        scope->AddToStore(pki().rsa, kPassword);
        scope->AddToStore(pki().sm2, kPassword);
        scope->AddToStore(pki().expired, kPassword);
        scope->TrustTestCas();
        scope->pinentry().Set(FakePinentry::Action::kPin, kPassword);
    }
    static const TestPki& pki() { return TestPki::Shared(); }
    int32_t SetCert(const std::vector<std::string>& p) {
        std::vector<Arg> args(p.begin(), p.end());
        args.resize(6, std::string());
        return scope->Number(5, args);
    }
    std::unique_ptr<ControlScope> scope;
};

TEST_F(SelectionTest, SetCertCriteria) {
    struct Case {
        std::vector<std::string> p;
        int32_t code;
    };
    const Case cases[] = {
        {{}, 0},
        {{pki().rsa.serial}, 0},
        {{"0BADC0FFEE"}, -4},
        {{"", "zqtca test"}, 0},
        {{"", "", "RSA LEAF"}, 0},
        {{"", "", "nobody"}, -4},
        {{"", "", "", "sign"}, 0},
        {{"", "", "", "sideways"}, -2},
        {{"", "", "", "", "SM2"}, 0},
        {{"", "", "", "", "DSA"}, -2},
        {{"", "", "", "", "EC"}, -4},
        {{"", "", "expired leaf"}, -4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.p));
        EXPECT_EQ(SetCert(c.p), c.code) << scope->LastMessage();
    }
    EXPECT_EQ(scope->Number(1, {int32_t{16}}), 0);
    EXPECT_EQ(SetCert({"", "", "expired leaf"}), 0) << "offered with +16";
    EXPECT_EQ(scope->Number(1, {int32_t{3}}), -2);
}

TEST_F(SelectionTest, ChosenCertificateSignsAndDescribesItself) {
    ASSERT_EQ(SetCert({"", "", "sm2 leaf"}), 0);
    const std::string der =
        RunShell("openssl x509 -in " + pki().sm2.cert + " -outform DER | base64 -w0").output;
    EXPECT_EQ(scope->Text(3, {int32_t{1}, std::string()}), der);
    EXPECT_EQ(scope->Text(3, {int32_t{2}, std::string()}), pki().sm2.serial);
    EXPECT_NE(scope->Text(3, {int32_t{3}, std::string()}).find("sm2 leaf"), std::string::npos);
    EXPECT_EQ(scope->Text(3, {int32_t{8}, std::string()}), "SM2");
    const std::string sha1 = RunShell("openssl x509 -in " + pki().sm2.cert +
                                      " -noout -fingerprint -sha1 | cut -d= -f2 | tr -d ':\\n'")
                                 .output;
    EXPECT_EQ(scope->Text(3, {int32_t{11}, std::string()}), sha1);
    EXPECT_EQ(scope->Text(3, {int32_t{14}, std::string()}), "") << "not on a token";
    const std::string json = scope->Text(3, {int32_t{16}, std::string()});
    EXPECT_NE(json.find(pki().sm2.serial), std::string::npos) << json;
    EXPECT_EQ(scope->Text(3, {int32_t{99}, std::string()}), "");
    EXPECT_EQ(scope->LastCode(), -2);
    // A certificate given by value needs nothing from the stores.
    EXPECT_EQ(scope->Text(3, {int32_t{2}, RunShell("cat " + pki().untrusted.cert).output}),
              pki().untrusted.serial);
    EXPECT_FALSE(scope->Text(49, {std::string("x"), std::string()}).empty());
    EXPECT_EQ(scope->pinentry().PinPrompts(), 1);
}

TEST_F(SelectionTest, SetAlgorithm) {
    struct Case {
        const char* hash;
        const char* cipher;
        int32_t code;
    };
    const Case cases[] = {
        {"SHA1", "", 0},
        {"SHA-384", "AES-128-CBC", 0},
        {"sm3", "SM4-CBC", 0},
        {"", "DES-EDE3-CBC,OAEP", 0},
        {"MD5", "", -2},
        {"", "RC4", -2},
        {"", "AES-256-CBC,PSS", -2},
        {"", "", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scope->Number(4, {std::string(c.hash), std::string(c.cipher)}), c.code)
            << c.hash << " " << c.cipher;
    }
    ASSERT_EQ(scope->Number(4, {std::string("SM3"), std::string()}), 0);
    EXPECT_EQ(scope->Text(10, {std::string("x"), pki().rsa.serial}), "");
    EXPECT_EQ(scope->LastCode(), -10) << "SM3 is for SM2 keys";
    EXPECT_FALSE(scope->Text(49, {std::string("x"), pki().sm2.serial}).empty());
}

TEST_F(SelectionTest, ErrorQueriesReportTheLastOtherCall) {
    EXPECT_EQ(scope->Number(126, {std::string("x.y")}), -2);
    EXPECT_EQ(scope->LastCode(), -2);
    EXPECT_FALSE(scope->LastMessage().empty());
    EXPECT_EQ(scope->LastCode(), -2) << "the queries do not change the last error";
    EXPECT_EQ(scope->Number(126, {std::string("0.9")}), 0);
    EXPECT_EQ(scope->LastCode(), 0);
    EXPECT_EQ(scope->LastMessage(), "OK");
}

TEST_F(SelectionTest, Versions) {
    const std::string version = scope->Text(125);
    EXPECT_EQ(version.rfind("1.0.0 (OpenSSL 3.", 0), 0u) << version;
    EXPECT_NE(version.find("p11-kit"), std::string::npos) << version;
    struct Case {
        const char* asked;
        int32_t code;
    };
    for (const Case& c :
         {Case{"1.0.0", 0}, Case{"1", 0}, Case{"0.99.5", 0}, Case{"1.0.1", 1}, Case{"2", 1},
          Case{"", -2}, Case{"1..0", -2}, Case{"v1", -2}, Case{"1.0.0.0.0", -2}}) {
        EXPECT_EQ(scope->Number(126, {std::string(c.asked)}), c.code) << c.asked;
    }
}

TEST_F(SelectionTest, MachineInformationIsOffUnlessConfigured) {
    EXPECT_EQ(scope->Text(176), "");
    EXPECT_EQ(scope->LastCode(), -17);
    WriteFileText(scope->home() + "/config/zqtca/reference.conf", "allow_machine_info = yes\n");
    scope->Recreate();
    const std::string info = scope->Text(176);
    EXPECT_NE(info.find("\"host\""), std::string::npos) << info;
}

TEST_F(SelectionTest, PfxDownloadStoresOneFileAfterConfirmation) {
    const std::string p12 = TestPki::Shared().Pkcs12(pki().ec, "ec pass", true);
    const std::string b64 = RunShell("base64 -w0 " + ShellQuote(p12)).output;
    const auto files = [&] {
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(scope->StoreDir())) {
            n += e.path().extension() == ".p12";
        }
        return n;
    };
    const size_t before = files();
    EXPECT_EQ(scope->Number(36, {pki().ec.serial}), -4);
    EXPECT_EQ(scope->Number(37, {std::string("!!"), std::string("ec pass")}), -15);
    EXPECT_EQ(scope->Number(37, {std::string("AAEC"), std::string("ec pass")}), -15);
    EXPECT_EQ(scope->Number(37, {b64, std::string("wrong")}), -7);
    scope->pinentry().Set(FakePinentry::Action::kDecline);
    EXPECT_EQ(scope->Number(37, {b64, std::string("ec pass")}), -6);
    EXPECT_EQ(files(), before);
    scope->pinentry().Set(FakePinentry::Action::kConfirm);
    scope->SetCaller("https://bank.example");
    EXPECT_EQ(scope->Number(37, {b64, std::string("ec pass")}), 0) << scope->LastMessage();
    EXPECT_EQ(files(), before + 1);
    EXPECT_EQ(scope->pinentry().Confirms(), 2);
    // The confirmation names the page that asks.
    std::string desc;
    for (const std::string& line : scope->pinentry().Lines()) {
        if (line.rfind("SETDESC ", 0) == 0)
            desc = line;
    }
    EXPECT_EQ(desc.rfind("SETDESC https://bank.example asks to add a certificate", 0), 0u) << desc;
    EXPECT_EQ(scope->Number(36, {pki().ec.serial}), 0);
    for (const auto& e : std::filesystem::directory_iterator(scope->StoreDir())) {
        struct stat st {};
        ASSERT_EQ(stat(e.path().c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << e.path();
    }
    scope->pinentry().Set(FakePinentry::Action::kPin, "ec pass");
    const std::string sig = scope->Text(10, {std::string("after import"), pki().ec.serial});
    EXPECT_TRUE(Oracle(scope->home()).VerifyRaw(pki().ec, "sha256", "after import", sig));
}

TEST_F(SelectionTest, VerificationChecksTheSignerCertificate) {
    ASSERT_EQ(scope->Number(1, {int32_t{16}}), 0);
    const std::string expiredSig = scope->Text(10, {std::string("x"), pki().expired.serial});
    ASSERT_FALSE(expiredSig.empty()) << scope->LastMessage();
    EXPECT_EQ(scope->Number(11, {std::string("x"), expiredSig, pki().expired.serial}), -13);
    const std::string cms = scope->Text(8, {std::string("x"), pki().expired.serial});
    EXPECT_EQ(scope->Number(9, {cms}), -13);

    const std::string untrusted = RunShell("cat " + pki().untrusted.cert).output;
    scope->AddToStore(pki().untrusted, kPassword);
    const std::string sig = scope->Text(10, {std::string("y"), pki().untrusted.serial});
    ASSERT_FALSE(sig.empty()) << scope->LastMessage();
    EXPECT_EQ(scope->Number(11, {std::string("y"), sig, untrusted}), -12);
    EXPECT_EQ(scope->Number(26, {std::string("y"), sig, untrusted, std::string("16")}), 0);
    EXPECT_EQ(scope->Number(26, {std::string("y"), sig, untrusted, std::string("32")}), -2);
}

}  // namespace
