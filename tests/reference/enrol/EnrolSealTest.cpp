// ZQT_InstallSeal: a seal bound to a newly enrolled certificate is written
// where that certificate lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "enrol/EnrolHarness.h"

namespace {

// The first bytes of a PNG file and a little more.
constexpr const char* kPngBase64 = "iVBORw0KGgoAAAANSUhEUgAAAAEAAAAB";

TEST(InstallSeal, BarePictureGoesToTheCertificatesToken) {
    EnrolScope scope;
    scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    const Issued issued = EnrolOne(scope, scope.TokenName(), "EC256", "CN=Seal Holder");
    scope.pinentry().ClearLog();
    ASSERT_EQ(scope.enrol().Number(kInstallSeal, {kPngBase64, issued.serial}), 0)
        << scope.enrol().Text(kLastMessage);
    EXPECT_EQ(scope.pinentry().PinPrompts(), 1);

    const CommandResult read =
        RunShell(scope.token()->ToolPrefix() + " --read-object --type data --label 'Seal Holder'" +
                 " --application-label zqtca.seal 2>/dev/null");
    ASSERT_EQ(read.exitCode, 0) << read.output << scope.ListObjects();
    const auto record = nlohmann::json::parse(read.output);
    EXPECT_EQ(record["type"], 1);
    EXPECT_EQ(record["format"], "png");
    EXPECT_EQ(record["certSn"], issued.serial);
    EXPECT_EQ(record["data"], kPngBase64);
}

TEST(InstallSeal, RecordGoesToTheStoreForASoftCertificate) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, "seal pw");
    const Issued issued = EnrolOne(scope, "soft", "EC256", "CN=Soft Seal Holder");
    const std::string record = nlohmann::json{
        {"v", 1},
        {"name", "Finance seal"},
        {"type", 1},
        {"format", "png"},
        {"data", kPngBase64}}.dump();
    struct Case {
        std::string record, cert;
        int32_t code;
    };
    const Case cases[] = {
        {record, "0123ABCD", -4},               // nobody holds this certificate
        {record, "", -2},                       // no certificate
        {"", issued.serial, -2},                // no seal
        {"{\"v\":2}", issued.serial, -15},      // not a record
        {"%% not base64", issued.serial, -15},  // neither record nor picture
    };
    const std::string seals = scope.home() + "/data/zqtca/seals";
    for (const Case& c : cases) {
        EXPECT_EQ(scope.enrol().Number(kInstallSeal, {c.record, c.cert}), c.code)
            << c.record << " / " << c.cert << ": " << scope.enrol().Text(kLastMessage);
        EXPECT_FALSE(std::filesystem::exists(seals) && !std::filesystem::is_empty(seals));
    }
    ASSERT_EQ(scope.enrol().Number(kInstallSeal, {record, issued.serial}), 0)
        << scope.enrol().Text(kLastMessage);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(seals))
        files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    const auto stored = nlohmann::json::parse(ReadFileText(files.front()));
    EXPECT_EQ(stored["name"], "Finance seal");
    EXPECT_EQ(stored["certSn"], issued.serial);
}

}  // namespace
