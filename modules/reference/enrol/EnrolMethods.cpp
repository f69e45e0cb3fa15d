// The methods of the enrolment control, one row per dispatch id.
#include <nlohmann/json.hpp>

#include <algorithm>

#include "control/MethodArgs.h"
#include "core/Outcome.h"
#include "enrol/CertRequest.h"
#include "enrol/CreateRequests.h"
#include "enrol/DeviceInfo.h"
#include "enrol/EnrolControl.h"
#include "enrol/Install.h"
#include "enrol/SealInstall.h"

namespace ref {

namespace {

// An attribute value as RFC 4514 writes it.
std::string EscapeValue(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
        if (edge || std::string_view(",+\"\\<>;=").find(c) != std::string_view::npos)
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

int32_t Choose(EnrolControl& control, const std::string& deviceText, const std::string& specText,
               const std::string& subject) {
    const std::optional<KeySpec> keySpec = ParseKeySpec(specText);
    if (!keySpec)
        Fail(kBadParam, "unknown key type \"" + specText + "\": RSA2048, RSA3072, EC256 or SM2");
    if (deviceText.empty())
        Fail(kBadParam, "no device given");
    const std::optional<Device> device = FindDevice(ListDevices(control.tokens), deviceText);
    if (!device)
        Fail(kNoToken, "no device \"" + deviceText + "\" is present");
    if (!device->soft && *keySpec == KeySpec::kSm2)
        Fail(kKeyType, "SM2 keys can only be made in the software store (device \"soft\")");
    const std::vector<KeySpec> keySpecs = DeviceKeySpecs(control.tokens, *device);
    if (std::find(keySpecs.begin(), keySpecs.end(), *keySpec) == keySpecs.end())
        Fail(kUnsupported, device->name() + " cannot make " + KeySpecName(*keySpec) + " keys");
    EnrolChoice choice{*device, *keySpec, subject};
    if (choice.subject.empty())
        choice.subject = "CN=" + EscapeValue(device->label());
    ParseSubject(choice.subject);  // refused now rather than at CreateP10
    control.choice = std::move(choice);
    return kOk;
}

int32_t Initialize(EnrolControl& control, const MethodArgs&) {
    control.tokens.Tokens();  // loads the modules on first use
    return kOk;
}

int32_t InitDevNameList(EnrolControl& control, const MethodArgs&) {
    control.devices = ListDevices(control.tokens);
    return control.devices.empty() ? kNoToken : kOk;
}

std::string GetFirstDevName(EnrolControl& control, const MethodArgs&) {
    control.devices = ListDevices(control.tokens);  // never a pulled token's name
    if (control.devices.empty())
        Fail(kNoToken, "no device");
    return control.devices.front().name();
}

int32_t SetUSBKeyType(EnrolControl& control, const MethodArgs& args) {
    return Choose(control, args.Text(0), args.Text(1), args.Text(2));
}

int32_t SetUSBKeyTypeEx(EnrolControl& control, const MethodArgs& args) {
    return Choose(control, args.Text(0), args.Text(1), "");
}

std::string CreateP10(EnrolControl& control, const MethodArgs&) {
    return CreateRequests(control, {KeyRole::kSign}).front();
}

std::string CreateDoubleP10(EnrolControl& control, const MethodArgs&) {
    const std::vector<std::string> requests =
        CreateRequests(control, {KeyRole::kSign, KeyRole::kEncrypt});
    return nlohmann::json{{"sign", requests[0]}, {"enc", requests[1]}}.dump();
}

int32_t InstallSignCertAndEnCert(EnrolControl& control, const MethodArgs& args) {
    InstallCertificates(control, args.Text(0), args.Text(1), args.Text(2));
    return kOk;
}

int32_t GetLastErrCode(EnrolControl& control, const MethodArgs&) {
    return control.lastCode;
}

std::string GetLastErrMsg(EnrolControl& control, const MethodArgs&) {
    return control.lastMessage;
}

std::string GetDevInfoList(EnrolControl& control, const MethodArgs&) {
    return DeviceInfoJson(control, false);
}

std::string GetDevInfoListEx(EnrolControl& control, const MethodArgs&) {
    return DeviceInfoJson(control, true);
}

int32_t InstallSealMethod(EnrolControl& control, const MethodArgs& args) {
    InstallSeal(control, args.Text(0), args.Text(1));
    return kOk;
}

constexpr EnrolRow Number(int32_t id, std::string_view args, EnrolNumberMethod m,
                          bool queries = false) {
    return {id, args, nullptr, m, queries};
}
constexpr EnrolRow Text(int32_t id, std::string_view args, EnrolTextMethod m,
                        bool queries = false) {
    return {id, args, m, nullptr, queries};
}

constexpr EnrolRow kRows[] = {
    Number(1, "", Initialize),
    Number(2, "", InitDevNameList),
    Text(3, "", GetFirstDevName),
    Number(4, "BBB", SetUSBKeyType),
    Text(5, "", CreateP10),
    Text(6, "", CreateDoubleP10),
    Number(7, "BBB", InstallSignCertAndEnCert),
    Number(8, "", GetLastErrCode, true),
    Text(9, "", GetLastErrMsg, true),
    Number(10, "BB", SetUSBKeyTypeEx),
    Text(11, "", GetDevInfoList),
    Number(12, "BB", InstallSealMethod),
    Text(13, "", GetDevInfoListEx),
};

}  // namespace

const EnrolRow* FindEnrolMethod(int32_t dispid) {
    for (const EnrolRow& row : kRows) {
        if (row.dispid == dispid)
            return &row;
    }
    return nullptr;
}

}  // namespace ref
