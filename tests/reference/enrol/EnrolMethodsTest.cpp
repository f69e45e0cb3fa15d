// The module's entry points and the small methods: call shapes, the
// device choice, the device list, the last error.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "enrol/EnrolHarness.h"

namespace {

TEST(EnrolModule, MakesOnlyItsOwnClass) {
    const LoadedModule& module = LoadedModule::Enrolment();
    EXPECT_EQ(module.AbiVersion(), ZQT_CONTROL_ABI_VERSION);
    EXPECT_EQ(module.Create("ulvo.ctrl"), nullptr);
    EXPECT_EQ(module.Create(""), nullptr);
    EXPECT_EQ(module.Create(nullptr), nullptr);
}

TEST(EnrolModule, RefusesCallsOfTheWrongShape) {
    EnrolScope scope(false);
    const LoadedModule& module = LoadedModule::Enrolment();
    const zqt_value text{ZQT_VT_BSTR, 0, 0, nullptr, 0};
    const zqt_value number{ZQT_VT_I4, 5, 0, nullptr, 0};
    const zqt_value broken{ZQT_VT_BSTR, 0, 0, nullptr, 3};  // length without code units
    struct Case {
        int32_t dispid;
        std::vector<zqt_value> args;
        uint16_t resultVt;
    };
    const Case cases[] = {
        {0, {}, ZQT_VT_I4},                    // no such method
        {14, {}, ZQT_VT_BSTR},                 // no such method
        {1, {}, ZQT_VT_BSTR},                  // number method asked for text
        {3, {}, ZQT_VT_I4},                    // text method asked for a number
        {1, {text}, ZQT_VT_I4},                // too many arguments
        {4, {text, text}, ZQT_VT_I4},          // too few
        {4, {text, text, number}, ZQT_VT_I4},  // an I4 where a text belongs
        {7, {text, broken, text}, ZQT_VT_I4},  // a malformed string
        {10, {text, text, text}, ZQT_VT_I4},   // Ex takes two
        {12, {text}, ZQT_VT_I4},               // InstallSeal takes two
    };
    for (const Case& c : cases) {
        EXPECT_NE(module.InvokeRaw(scope.enrol().get(), c.dispid, c.args, c.resultVt), 0)
            << "dispid " << c.dispid << " with " << c.args.size() << " arguments";
    }
    EXPECT_NE(module.InvokeRaw(nullptr, 1, {}, ZQT_VT_I4), 0);
    // Every method exists with its own shape.
    const std::vector<std::pair<int32_t, size_t>> numbers = {{1, 0}, {2, 0},  {4, 3}, {7, 3},
                                                             {8, 0}, {10, 2}, {12, 2}};
    for (const auto& [dispid, count] : numbers) {
        EXPECT_EQ(module.InvokeRaw(scope.enrol().get(), dispid, std::vector<zqt_value>(count, text),
                                   ZQT_VT_I4),
                  0)
            << dispid;
    }
    for (int32_t dispid : {3, 5, 6, 9, 11, 13}) {
        EXPECT_EQ(module.InvokeRaw(scope.enrol().get(), dispid, {}, ZQT_VT_BSTR), 0) << dispid;
    }
}

TEST(DeviceChoice, AnswersEachMistakeWithItsCode) {
    EnrolScope scope;
    auto& enrol = scope.enrol();
    struct Case {
        std::string device, keySpec, subject;
        int32_t code;
    };
    const Case cases[] = {
        {scope.TokenName(), "RSA2048", "", 0},
        {scope.token()->Serial(), "rsa3072", "", 0},
        {scope.token()->label(), "EC256", "CN=A\\, B+OU=x,O=y", 0},
        {"soft", "SM2", "", 0},
        {"Software store (soft)", "RSA2048", "", 0},
        {scope.TokenName(), "SM2", "", -10},
        {scope.TokenName(), "DSA1024", "", -2},
        {scope.TokenName(), "", "", -2},
        {"", "RSA2048", "", -2},
        {"No Such Token (123)", "RSA2048", "", -5},
        {scope.TokenName(), "EC256", "not a name", -2},
        {scope.TokenName(), "EC256", "XYZ=1", -2},
        {scope.TokenName(), "EC256", "CN=", -2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(enrol.Number(kSetUSBKeyType, {c.device, c.keySpec, c.subject}), c.code)
            << c.device << " / " << c.keySpec << " / " << c.subject << ": "
            << enrol.Text(kLastMessage);
    }
}

TEST(DeviceChoice, RequestNeedsAChoiceFirst) {
    EnrolScope scope(false);
    EXPECT_EQ(scope.enrol().Text(kCreateP10), "");
    EXPECT_EQ(scope.enrol().Number(kLastCode), -18);
    EXPECT_EQ(scope.enrol().Text(kCreateDoubleP10), "");
    EXPECT_EQ(scope.enrol().Number(kLastCode), -18);
}

TEST(DeviceChoice, SubjectIsWrittenAsGiven) {
    EnrolScope scope(false);
    scope.pinentry().Set(FakePinentry::Action::kPin, "pw");
    ASSERT_EQ(scope.enrol().Number(kSetUSBKeyType,
                                   {"soft", "EC256", "CN=Zhang\\, San+UID=z1,OU=Unit,O=Org"}),
              0);
    const std::string request = scope.enrol().Text(kCreateP10);
    const std::string der = scope.Write("subject.der", Base64Decode(request));
    const CommandResult subject = RunShell(
        "openssl req -noout -subject -nameopt RFC2253 "
        "-inform DER -in " +
        ShellQuote(der));
    EXPECT_NE(subject.output.find("CN=Zhang\\, San+UID=z1,OU=Unit,O=Org"), std::string::npos)
        << subject.output;
}

TEST(DeviceList, DescribesTokenAndSoftDevice) {
    EnrolScope scope;
    const auto devices = nlohmann::json::parse(scope.enrol().Text(kDevInfoList));
    ASSERT_EQ(devices.size(), 2u);
    const auto& token = devices[0];
    EXPECT_EQ(token["name"], scope.TokenName());
    EXPECT_EQ(token["kind"], "pkcs11");
    EXPECT_EQ(token["module"], SoftHsmToken::kModule);
    EXPECT_EQ(token["label"], scope.token()->label());
    EXPECT_EQ(token["serial"], scope.token()->Serial());
    EXPECT_EQ(token["model"], "SoftHSM v2");
    EXPECT_EQ(token["manufacturer"], "SoftHSM project");
    EXPECT_EQ(token["pinpad"], false);
    EXPECT_EQ(token["loginRequired"], true);
    EXPECT_EQ(token["keySpecs"], nlohmann::json({"RSA2048", "RSA3072", "EC256"}));
    EXPECT_FALSE(token.contains("pendingKeys"));
    const auto& soft = devices[1];
    EXPECT_EQ(soft["name"], "Software store (soft)");
    EXPECT_EQ(soft["kind"], "soft");
    EXPECT_EQ(soft["keySpecs"], nlohmann::json({"RSA2048", "RSA3072", "EC256", "SM2"}));

    // The Ex list shows a pending pair once a request was made.
    scope.pinentry().Set(FakePinentry::Action::kPin, SoftHsmToken::kPin);
    ASSERT_EQ(scope.enrol().Number(kSetUSBKeyTypeEx, {scope.TokenName(), "EC256"}), 0);
    ASSERT_FALSE(scope.enrol().Text(kCreateP10).empty());
    const auto ex = nlohmann::json::parse(scope.enrol().Text(kDevInfoListEx));
    ASSERT_EQ(ex[0]["pendingKeys"].size(), 1u);
    EXPECT_EQ(ex[0]["pendingKeys"][0]["kind"], "sign");
    EXPECT_EQ(ex[0]["pendingKeys"][0]["id"].get<std::string>().size(), 40u);
    EXPECT_TRUE(ex[0]["certificates"].empty());
    EXPECT_TRUE(ex[1]["pendingKeys"].empty());
}

TEST(DeviceList, WithoutTokensOnlyTheSoftDevice) {
    EnrolScope scope(false);
    EXPECT_EQ(scope.enrol().Number(kInitDevNameList), 0);
    EXPECT_EQ(scope.enrol().Text(kGetFirstDevName), "Software store (soft)");
    EXPECT_EQ(nlohmann::json::parse(scope.enrol().Text(kDevInfoList)).size(), 1u);
}

TEST(LastError, ReportsTheLastOtherCall) {
    EnrolScope scope(false);
    auto& enrol = scope.enrol();
    EXPECT_EQ(enrol.Number(kLastCode), 0);
    EXPECT_EQ(enrol.Text(kLastMessage), "OK");
    EXPECT_EQ(enrol.Number(kSetUSBKeyType, {"soft", "RSA1", ""}), -2);
    EXPECT_EQ(enrol.Number(kLastCode), -2);
    const std::string message = enrol.Text(kLastMessage);
    EXPECT_NE(message.find("RSA1"), std::string::npos) << message;
    EXPECT_EQ(enrol.Number(kLastCode), -2);  // the queries leave it alone
    EXPECT_EQ(enrol.Number(kSetUSBKeyTypeEx, {"soft", "SM2"}), 0);
    EXPECT_EQ(enrol.Number(kLastCode), 0);
    EXPECT_EQ(enrol.Text(kLastMessage), "OK");
}

}  // namespace
