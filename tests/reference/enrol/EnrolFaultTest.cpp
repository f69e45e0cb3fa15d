// Installations that must not happen, abandoned enrolments, and tokens
// that go away: the token is left with nothing that looks usable.
#include <gtest/gtest.h>

#include "enrol/EnrolHarness.h"

namespace {

// A scope with one pending EC signing pair on the token and its request.
struct PendingEnrolment {
    EnrolScope scope;
    std::string request;

    PendingEnrolment() {
        scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
        EXPECT_EQ(scope.enrol().Number(kSetUSBKeyType, {scope.TokenName(), "EC256", "CN=Faulty"}),
                  0);
        request = scope.enrol().Text(kCreateP10);
        EXPECT_FALSE(request.empty()) << scope.enrol().Text(kLastMessage);
    }
};

std::string Base64DerOf(const std::string& pem) {
    return RunShell("openssl x509 -in " + ShellQuote(pem) + " -outform DER | base64 -w0").output;
}

TEST(RefusedInstall, LeavesThePendingPairAlone) {
    PendingEnrolment enrolment;
    EnrolScope& scope = enrolment.scope;
    const Issued issued = Issue(scope, enrolment.request);
    const std::string foreign = Base64DerOf(TestPki::Shared().ec.cert);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int32_t code;
    };
    const Case cases[] = {
        {"certificate for another key", {foreign, "", ""}, -9},
        {"signing fits, encryption certificate for another key", {issued.base64, foreign, ""}, -9},
        {"vendor key blob", {issued.base64, foreign, "AAECAwQFBgcICQ=="}, -3},
        {"key blob that is not even Base64", {issued.base64, foreign, "%%%"}, -3},
        {"encryption key without its certificate", {issued.base64, "", "AAECAwQFBgcICQ=="}, -2},
        {"no signing certificate", {"", "", ""}, -2},
        {"the same certificate twice", {issued.base64, issued.base64, ""}, -2},
        {"not a certificate", {"bm90IGEgY2VydGlmaWNhdGU=", "", ""}, -15},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scope.enrol().Number(kInstall, c.args), c.code) << c.what;
        EXPECT_EQ(scope.enrol().Number(kLastCode), c.code) << c.what;
        const std::string objects = scope.ListObjects();
        EXPECT_EQ(Count(objects, "Certificate Object"), 0) << c.what << "\n" << objects;
        EXPECT_EQ(Count(objects, "zqtca pending sign"), 2) << c.what << "\n" << objects;
    }
    // The pair still takes its own certificate.
    EXPECT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), 0)
        << scope.enrol().Text(kLastMessage);
    // Installing it again finds no pending key for it.
    EXPECT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), -9);
}

TEST(AbandonedEnrolment, LaterInstallationStillFindsItsKey) {
    PendingEnrolment enrolment;
    EnrolScope& scope = enrolment.scope;
    const std::string second = scope.enrol().Text(kCreateP10);
    ASSERT_FALSE(second.empty());
    EXPECT_EQ(Count(scope.ListObjects(), "zqtca pending sign"), 4);

    // The first request's certificate arrives after the second was made.
    const Issued first = Issue(scope, enrolment.request);
    ASSERT_EQ(scope.enrol().Number(kInstall, {first.base64, "", ""}), 0)
        << scope.enrol().Text(kLastMessage);
    const std::string objects = scope.ListObjects();
    EXPECT_EQ(Count(objects, "Certificate Object"), 1) << objects;
    EXPECT_EQ(Count(objects, "zqtca pending sign"), 2) << objects;  // the second pair
    EXPECT_EQ(Count(objects, "label:      Faulty"), 3) << objects;
    // A fresh control (another session of the service) still installs the second.
    const Issued later = Issue(scope, second);
    ControlHandle fresh(LoadedModule::Enrolment(), "ulvo.certenroll");
    // This time as a PEM PKCS#7 with the CA's certificate.
    const std::string p7 = RunShell("openssl crl2pkcs7 -nocrl -certfile " + ShellQuote(later.pem) +
                                    " -certfile " + ShellQuote(TestPki::Shared().rsaCa.cert))
                               .output;
    scope.pinentry().ClearLog();
    EXPECT_EQ(fresh.Number(kInstall, {p7, "", ""}), 0) << fresh.Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().Confirms(), 0);  // that CA is trusted already
    EXPECT_EQ(Count(scope.ListObjects(), "zqtca pending"), 0);
}

TEST(PulledToken, InstallationAnswersNoToken) {
    PendingEnrolment enrolment;
    EnrolScope& scope = enrolment.scope;
    const Issued issued = Issue(scope, enrolment.request);
    scope.token()->Delete();
    EXPECT_EQ(scope.enrol().Number(kInstall, {issued.base64, "", ""}), -5);
    EXPECT_NE(scope.enrol().Text(kLastMessage).find("not present"), std::string::npos)
        << scope.enrol().Text(kLastMessage);
    EXPECT_EQ(scope.enrol().Text(kCreateP10), "");
    EXPECT_EQ(scope.enrol().Number(kLastCode), -5);
}

TEST(Login, WrongOrCancelledPinMakesNothing) {
    EnrolScope scope;
    ASSERT_EQ(scope.enrol().Number(kSetUSBKeyTypeEx, {scope.TokenName(), "EC256"}), 0);
    struct Case {
        FakePinentry::Action action;
        const char* pin;
        int32_t code;
    };
    for (const Case c : {Case{FakePinentry::Action::kPin, "999999", -7},
                         Case{FakePinentry::Action::kCancel, "", -6},
                         Case{FakePinentry::Action::kCrash, "", -6}}) {
        scope.pinentry().Set(c.action, c.pin);
        EXPECT_EQ(scope.enrol().Text(kCreateP10), "");
        EXPECT_EQ(scope.enrol().Number(kLastCode), c.code) << scope.enrol().Text(kLastMessage);
        EXPECT_EQ(Count(scope.ListObjects(), "Object;"), 0);
    }
}

}  // namespace
