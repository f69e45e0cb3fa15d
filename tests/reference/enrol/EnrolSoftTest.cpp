// Enrolment in the software store: the key waits encrypted in the pending
// folder under a password chosen twice, and becomes a PKCS#12 identity when
// its certificate arrives.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "enrol/EnrolHarness.h"

namespace {

constexpr const char* kPassword = "new key pw";

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        const std::string name = entry.path().filename();
        if (name.size() > suffix.size() && name.ends_with(suffix))
            files.push_back(entry.path());
    }
    return files;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// The request, made and checked, with the pending file it left.
std::string RequestInStore(EnrolScope& scope, const char* keySpec, bool sm2) {
    auto& enrol = scope.enrol();
    EXPECT_EQ(enrol.Number(kSetUSBKeyType, {"soft", keySpec, "CN=Soft User,O=zqtca test"}), 0)
        << enrol.Text(kLastMessage);
    scope.pinentry().ClearLog();
    const std::string request = enrol.Text(kCreateP10);
    EXPECT_FALSE(request.empty()) << enrol.Text(kLastMessage);
    // A new password: asked once with SETREPEAT, pinentry compares the two.
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    EXPECT_TRUE(HasLine(scope.pinentry().Lines(), "SETREPEAT"));
    VerifyRequest(scope, request, sm2);
    const auto pending = FilesIn(scope.StoreDir() + "/pending", ".json");
    EXPECT_EQ(pending.size(), 1u);
    if (pending.size() == 1) {
        EXPECT_EQ(ModeOf(pending.front()), 0600u);
        // The private key never lies there in the clear.
        const std::string content = ReadFileText(pending.front());
        EXPECT_EQ(content.find("PRIVATE KEY"), std::string::npos);
    }
    return request;
}

// The new password's prompt starts with the page that asks for the key.
TEST(SoftEnrolment, ThePromptNamesThePage) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    auto& enrol = scope.enrol();
    ASSERT_EQ(enrol.Number(kSetUSBKeyType, {"soft", "RSA2048", "CN=Soft User,O=zqtca test"}), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"https://ca.example", "SETDESC https://ca.example asks to "},
        {"", "SETDESC A local caller (no web page given) asks to "},
    };
    for (const auto& [origin, starts] : cases) {
        ASSERT_EQ(LoadedModule::Enrolment().SetCaller(enrol.get(), origin), 0);
        scope.pinentry().ClearLog();
        ASSERT_FALSE(enrol.Text(kCreateP10).empty()) << enrol.Text(kLastMessage);
        std::string desc;
        for (const std::string& line : scope.pinentry().Lines()) {
            if (line.rfind("SETDESC ", 0) == 0)
                desc = line;
        }
        EXPECT_EQ(desc.rfind(starts, 0), 0u) << desc;
    }
}

TEST(SoftEnrolment, Rsa2048InstalledFromPkcs7AndSigns) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    const std::string request = RequestInStore(scope, "RSA2048", false);
    const Issued issued = Issue(scope, request);

    // The CA's answer as a certs-only PKCS#7 with its own certificate, which
    // the user is asked about before it is trusted.
    RunShell("rm -f " + ShellQuote(scope.TrustDir()) + "/*.pem");
    const CommandResult p7 =
        RunShell("openssl crl2pkcs7 -nocrl -outform DER -certfile " + ShellQuote(issued.pem) +
                 " -certfile " + ShellQuote(TestPki::Shared().rsaCa.cert) + " | base64 -w0");
    ASSERT_EQ(p7.exitCode, 0) << p7.output;
    scope.pinentry().ClearLog();
    ASSERT_EQ(scope.enrol().Number(kInstall, {p7.output, "", ""}), 0)
        << scope.enrol().Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    EXPECT_EQ(scope.pinentry().Confirms(), 1);
    EXPECT_EQ(FilesIn(scope.TrustDir(), ".pem").size(), 1u);

    EXPECT_TRUE(FilesIn(scope.StoreDir() + "/pending", ".json").empty());
    const auto identities = FilesIn(scope.StoreDir(), ".p12");
    ASSERT_EQ(identities.size(), 1u);
    EXPECT_EQ(ModeOf(identities.front()), 0600u);
    // The store file opens with the chosen password and holds the certificate.
    const CommandResult opened =
        RunShell("openssl pkcs12 -in " + ShellQuote(identities.front()) + " -passin " +
                 ShellQuote(std::string("pass:") + kPassword) +
                 " -nokeys -clcerts | openssl x509 -noout -serial");
    EXPECT_NE(opened.output.find("serial=" + issued.serial), std::string::npos) << opened.output;

    const std::string cms = scope.main().Text(8, {"soft data", issued.serial});
    ASSERT_FALSE(cms.empty()) << scope.main().Text(32);
    const std::string file = scope.Write("soft-signed.der", Base64Decode(cms));
    const CommandResult verify =
        RunShell("openssl cms -verify -inform DER -in " + ShellQuote(file) + " -CAfile " +
                 ShellQuote(TestPki::Shared().rsaCa.cert) + " -purpose any");
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("soft data"), std::string::npos);
}

TEST(SoftEnrolment, Sm2WithTheGmIdSigns) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    const std::string request = RequestInStore(scope, "SM2", true);
    // Without the GM id the request's signature does not verify.
    const std::string der = scope.Write("sm2.csr", Base64Decode(request));
    const CommandResult plain =
        RunShell("openssl req -verify -noout -inform DER -in " + ShellQuote(der));
    EXPECT_NE(plain.output.find("verify failure"), std::string::npos) << plain.output;
    const Issued issued = Issue(scope, request, true);

    // Cancelled or the wrong password: nothing installed, the key still waits.
    scope.pinentry().Set(FakePinentry::Action::kCancel);
    EXPECT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), -6);
    scope.pinentry().Set(FakePinentry::Action::kPin, "wrong pw");
    EXPECT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), -7);
    EXPECT_EQ(FilesIn(scope.StoreDir() + "/pending", ".json").size(), 1u);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    ASSERT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), 0)
        << scope.enrol().Text(kLastMessage);
    ASSERT_EQ(FilesIn(scope.StoreDir(), ".p12").size(), 1u);

    const std::string signature = scope.main().Text(10, {"sm2 data", issued.serial});
    ASSERT_FALSE(signature.empty()) << scope.main().Text(32);
    const std::string dir = scope.home();
    const std::string sig = scope.Write("sm2.sig", Base64Decode(signature));
    const std::string data = scope.Write("sm2.txt", "sm2 data");
    const CommandResult verify =
        RunShell("openssl x509 -in " + ShellQuote(issued.pem) + " -pubkey -noout > " +
                 ShellQuote(dir + "/sm2.pub") + " && openssl dgst -sm3 -verify " +
                 ShellQuote(dir + "/sm2.pub") + " -sigopt distid:1234567812345678 -signature " +
                 ShellQuote(sig) + " " + ShellQuote(data));
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("Verified OK"), std::string::npos) << verify.output;
}

// The serial numbers of the store's identities, read with the password.
std::string StoreSerials(EnrolScope& scope) {
    std::string serials;
    for (const std::string& file : FilesIn(scope.StoreDir(), ".p12")) {
        serials += RunShell("openssl pkcs12 -in " + ShellQuote(file) + " -passin " +
                            ShellQuote(std::string("pass:") + kPassword) +
                            " -nokeys -clcerts | openssl x509 -noout -serial")
                       .output;
    }
    return serials;
}

TEST(SoftDoubleEnrolment, BothKeysShareOnePassword) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    ASSERT_EQ(scope.enrol().Number(kSetUSBKeyTypeEx, {"soft", "EC256"}), 0);
    scope.pinentry().ClearLog();
    const auto pair = nlohmann::json::parse(scope.enrol().Text(kCreateDoubleP10));
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    EXPECT_EQ(FilesIn(scope.StoreDir() + "/pending", ".json").size(), 2u);
    const Issued sign = Issue(scope, pair.at("sign"));
    const Issued enc = Issue(scope, pair.at("enc"), false, "keyAgreement");
    scope.pinentry().ClearLog();
    ASSERT_EQ(scope.enrol().Number(kInstall, {sign.base64, enc.base64, ""}), 0)
        << scope.enrol().Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    EXPECT_TRUE(FilesIn(scope.StoreDir() + "/pending", ".json").empty());
    const std::string serials = StoreSerials(scope);
    EXPECT_NE(serials.find("serial=" + sign.serial), std::string::npos) << serials;
    EXPECT_NE(serials.find("serial=" + enc.serial), std::string::npos) << serials;
}

TEST(SoftDoubleEnrolment, EscrowedKeyIsStoredWithItsCertificate) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, kPassword);
    ASSERT_EQ(scope.enrol().Number(kSetUSBKeyTypeEx, {"soft", "EC256"}), 0);
    const std::string request = scope.enrol().Text(kCreateP10);
    const Issued sign = Issue(scope, request);
    const std::string dir = scope.home();
    const CommandResult made =
        RunShell("cd " + ShellQuote(dir) +
                 " && openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out esc.key"
                 " && openssl pkcs8 -topk8 -nocrypt -in esc.key -out esc.p8"  // PEM this time
                 " && openssl req -new -key esc.key -subj '/CN=Escrowed' -outform DER -out esc.csr"
                 " && openssl cms -encrypt -binary -aes256 -in esc.p8 -outform DER -out esc.env " +
                 ShellQuote(sign.pem));
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const Issued enc = Issue(scope, Base64File(dir + "/esc.csr"), false, "keyAgreement");
    // An envelope for somebody else's certificate cannot be opened.
    const CommandResult other =
        RunShell("openssl cms -encrypt -binary -aes256 -in " + ShellQuote(dir + "/esc.p8") +
                 " -outform DER " + ShellQuote(TestPki::Shared().ec.cert) + " | base64 -w0");
    EXPECT_EQ(scope.enrol().Number(kInstall, {sign.base64, enc.base64, other.output}), -14)
        << scope.enrol().Text(kLastMessage);
    EXPECT_TRUE(FilesIn(scope.StoreDir(), ".p12").empty());

    ASSERT_EQ(
        scope.enrol().Number(kInstall, {sign.base64, enc.base64, Base64File(dir + "/esc.env")}), 0)
        << scope.enrol().Text(kLastMessage);
    const std::string serials = StoreSerials(scope);
    EXPECT_NE(serials.find("serial=" + enc.serial), std::string::npos) << serials;
    // The store holds the CA's own key for the encryption certificate.
    std::string storedKey;
    for (const std::string& file : FilesIn(scope.StoreDir(), ".p12")) {
        const std::string key = RunShell("openssl pkcs12 -in " + ShellQuote(file) + " -passin " +
                                         ShellQuote(std::string("pass:") + kPassword) +
                                         " -nocerts -nodes | openssl pkey -pubout")
                                    .output;
        if (RunShell("openssl pkcs12 -in " + ShellQuote(file) + " -passin " +
                     ShellQuote(std::string("pass:") + kPassword) +
                     " -nokeys -clcerts | openssl x509 -noout -serial")
                .output.find(enc.serial) != std::string::npos)
            storedKey = key;
    }
    EXPECT_EQ(storedKey,
              RunShell("openssl pkey -in " + ShellQuote(dir + "/esc.key") + " -pubout").output);
}

}  // namespace
