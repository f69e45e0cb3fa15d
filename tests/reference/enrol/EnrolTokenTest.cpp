// The whole enrolment on a SoftHSM token, as a page drives it: choose the
// device, request, have the CA issue, install, then sign with the new key
// through the main control and check everything with openssl.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "enrol/EnrolHarness.h"

namespace {

// Signs through the main control with the certificate of this serial and
// checks the CMS with openssl against the test CA.
void ExpectMainControlSigns(EnrolScope& scope, const std::string& serial) {
    const std::string cms = scope.main().Text(8, {"enrolled data", serial});
    ASSERT_FALSE(cms.empty()) << scope.main().Text(32);
    const std::string file = scope.Write("signed.der", Base64Decode(cms));
    const CommandResult verify =
        RunShell("openssl cms -verify -inform DER -in " + ShellQuote(file) + " -CAfile " +
                 ShellQuote(TestPki::Shared().rsaCa.cert) + " -purpose any");
    EXPECT_EQ(verify.exitCode, 0) << verify.output;
    EXPECT_NE(verify.output.find("enrolled data"), std::string::npos) << verify.output;
}

struct TokenCase {
    const char* keySpec;
    const char* algorithm;  // in `openssl req -text`
};

class TokenEnrolment : public ::testing::TestWithParam<TokenCase> {};

TEST_P(TokenEnrolment, RequestInstallAndSign) {
    EnrolScope scope;
    scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    auto& enrol = scope.enrol();
    ASSERT_EQ(enrol.Number(kInitialize), 0);
    ASSERT_EQ(enrol.Number(kInitDevNameList), 0);
    EXPECT_EQ(enrol.Text(kGetFirstDevName), scope.TokenName());
    ASSERT_EQ(enrol.Number(kSetUSBKeyType, {scope.TokenName(), GetParam().keySpec,
                                            "CN=Enrolled User,O=zqtca test"}),
              0)
        << enrol.Text(kLastMessage);

    scope.pinentry().ClearLog();
    const std::string request = enrol.Text(kCreateP10);
    ASSERT_FALSE(request.empty()) << enrol.Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    const std::string text = VerifyRequest(scope, request);
    EXPECT_NE(text.find(GetParam().algorithm), std::string::npos) << text;
    EXPECT_NE(text.find("CN = Enrolled User"), std::string::npos) << text;
    EXPECT_NE(text.find("Digital Signature, Non Repudiation"), std::string::npos) << text;

    // Generated on the token: private, sensitive, never extractable, pending.
    const std::string before = scope.ListObjects();
    EXPECT_EQ(Count(before, "zqtca pending sign"), 2) << before;
    EXPECT_NE(before.find("never extractable"), std::string::npos) << before;
    EXPECT_EQ(Count(before, "Certificate Object"), 0) << before;

    const Issued issued = Issue(scope, request);
    scope.pinentry().ClearLog();
    // The certificate as PEM, as many CAs hand it out.
    ASSERT_EQ(enrol.Number(kInstall, {ReadFileText(issued.pem), "", ""}), 0)
        << enrol.Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    EXPECT_EQ(enrol.Text(kLastMessage), "OK");

    const std::string after = scope.ListObjects();
    EXPECT_EQ(Count(after, "Certificate Object"), 1) << after;
    EXPECT_EQ(Count(after, "zqtca pending"), 0) << after;
    EXPECT_EQ(Count(after, "label:      Enrolled User"), 3) << after;
    EXPECT_EQ(PrivateKeyUsage(after, issued.serial), "sign") << after;
    ExpectMainControlSigns(scope, issued.serial);

    // The device list now shows the certificate and no pending key.
    const auto devices = nlohmann::json::parse(enrol.Text(kDevInfoListEx));
    ASSERT_EQ(devices.size(), 2u);
    ASSERT_EQ(devices[0]["certificates"].size(), 1u);
    EXPECT_EQ(devices[0]["certificates"][0]["sn"], issued.serial);
    EXPECT_EQ(devices[0]["certificates"][0]["cn"], "Enrolled User");
    EXPECT_TRUE(devices[0]["pendingKeys"].empty());
}

INSTANTIATE_TEST_SUITE_P(KeyTypes, TokenEnrolment,
                         ::testing::Values(TokenCase{"RSA2048", "sha256WithRSAEncryption"},
                                           TokenCase{"EC256", "ecdsa-with-SHA256"}));

// A double request; both certificates come back for keys made here.
TEST(TokenDoubleEnrolment, InstallsBothLocalKeys) {
    EnrolScope scope;
    scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    auto& enrol = scope.enrol();
    ASSERT_EQ(enrol.Number(kSetUSBKeyTypeEx, {scope.token()->label(), "EC256"}), 0);
    scope.pinentry().ClearLog();
    const auto pair = nlohmann::json::parse(enrol.Text(kCreateDoubleP10));
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);  // one login for both pairs
    const std::string signText = VerifyRequest(scope, pair.at("sign"));
    const std::string encText = VerifyRequest(scope, pair.at("enc"));
    EXPECT_NE(signText.find("CN = Enrol Token"), std::string::npos) << signText;  // default subject
    EXPECT_NE(encText.find("Key Agreement"), std::string::npos) << encText;

    const std::string pending = scope.ListObjects();
    EXPECT_EQ(Count(pending, "zqtca pending sign"), 2) << pending;
    EXPECT_EQ(Count(pending, "zqtca pending enc"), 2) << pending;

    const Issued sign = Issue(scope, pair["sign"]);
    const Issued enc = Issue(scope, pair["enc"], false, "keyAgreement");
    ASSERT_EQ(enrol.Number(kInstall, {sign.base64, enc.base64, ""}), 0) << enrol.Text(kLastMessage);
    const std::string after = scope.ListObjects();
    EXPECT_EQ(Count(after, "Certificate Object"), 2) << after;
    EXPECT_EQ(Count(after, "zqtca pending"), 0) << after;
    // The encryption key derives and no longer signs once its request is made.
    EXPECT_EQ(PrivateKeyUsage(after, sign.serial), "sign") << after;
    EXPECT_EQ(PrivateKeyUsage(after, enc.serial), "derive") << after;
    ExpectMainControlSigns(scope, sign.serial);
}

// The CA made the encryption key and sent it in an envelope for the new
// signing certificate: it lands on the token, usable for decryption.
struct EscrowCase {
    const char* genpkey;   // the CA's key, as openssl genpkey options
    const char* usage;     // the certificate's keyUsage
    const char* keyUsage;  // the imported private key's, as pkcs11-tool lists it
};

class EscrowedKey : public ::testing::TestWithParam<EscrowCase> {};

TEST_P(EscrowedKey, IsImportedNextToItsCertificate) {
    EnrolScope scope;
    scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    auto& enrol = scope.enrol();
    ASSERT_EQ(enrol.Number(kSetUSBKeyType, {scope.TokenName(), "EC256", "CN=Key Escrow User"}), 0);
    const auto pair = nlohmann::json::parse(enrol.Text(kCreateDoubleP10));
    const Issued sign = Issue(scope, pair.at("sign"));

    // The CA's side: a key, its certificate, the PKCS#8 in CMS.
    const std::string dir = scope.home();
    const std::string setup =
        "cd " + ShellQuote(dir) + " && openssl genpkey " + GetParam().genpkey +
        " -out ca-enc.key"
        " && openssl pkcs8 -topk8 -nocrypt -in ca-enc.key -outform DER -out ca-enc.p8"
        " && openssl req -new -key ca-enc.key -subj '/CN=Key Escrow User' -outform DER"
        " -out ca-enc.csr"
        " && openssl cms -encrypt -binary -aes256 -in ca-enc.p8 -outform DER -out ca-enc.env " +
        ShellQuote(sign.pem);
    const CommandResult made = RunShell(setup);
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const Issued enc = Issue(scope, Base64File(dir + "/ca-enc.csr"), false, GetParam().usage);
    const std::string envelope = Base64File(dir + "/ca-enc.env");

    scope.pinentry().ClearLog();
    ASSERT_EQ(enrol.Number(kInstall, {sign.base64, enc.base64, envelope}), 0)
        << enrol.Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);
    const std::string after = scope.ListObjects();
    EXPECT_EQ(Count(after, "Certificate Object"), 2) << after;
    // The locally made encryption pair was not used: it stays pending.
    EXPECT_EQ(Count(after, "zqtca pending enc"), 2) << after;
    EXPECT_EQ(Count(after, "zqtca pending sign"), 0) << after;
    // The signing key opened the envelope, and only signs again after.
    EXPECT_EQ(PrivateKeyUsage(after, sign.serial), "sign") << after;
    EXPECT_EQ(PrivateKeyUsage(after, enc.serial), GetParam().keyUsage) << after;
    EXPECT_EQ(Count(after, "extractable"), Count(after, "never extractable")) << after;

    // The imported key opens an envelope made for its certificate.
    const CommandResult sealed = RunShell(
        "printf 'for the escrowed key' | openssl cms -encrypt -binary -aes256 "
        "-outform DER " +
        ShellQuote(enc.pem) + " | base64 -w0");
    ASSERT_EQ(sealed.exitCode, 0) << sealed.output;
    EXPECT_EQ(scope.main().Text(13, {sealed.output}), "for the escrowed key")
        << scope.main().Text(32);
}

INSTANTIATE_TEST_SUITE_P(
    KeyTypes, EscrowedKey,
    ::testing::Values(
        EscrowCase{"-algorithm EC -pkeyopt ec_paramgen_curve:P-256", "keyAgreement", "derive"},
        EscrowCase{"-algorithm RSA -pkeyopt rsa_keygen_bits:2048", "keyEncipherment", "decrypt"}));

}  // namespace
