// Methods about tokens, the module's version, and the machine.
#include <ifaddrs.h>
#include <unistd.h>

#include <openssl/opensslv.h>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>

#include "control/KeyAccess.h"
#include "core/Outcome.h"
#include "core/Text.h"
#include "methods/MethodSupport.h"
#include "methods/ModuleVersion.h"
#include "pin/CallerText.h"
#include "pin/PinEntry.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

bool TokenMatches(const TokenInfo& token, const std::string& sel) {
    return sel.empty() || token.serial == sel || token.label == sel;
}

TokenInfo FindToken(MainControl& c, const std::string& sel) {
    for (const TokenInfo& token : c.tokens.Tokens()) {
        if (TokenMatches(token, sel))
            return token;
    }
    Fail(kNoToken, sel.empty() ? "no token is present" : "no token \"" + sel + "\" is present");
}

int32_t CheckUkey(MainControl& c, const MethodArgs& a) {
    const std::string tokenSel(TrimBlanks(a.Text(0)));
    const std::string certSel(TrimBlanks(a.Text(1)));
    FindToken(c, tokenSel);
    if (certSel.empty())
        return kOk;
    const StoreFilter tokensOnly{true, false, true};
    const X509Shared wanted = c.inventory.ResolveCertificate(tokensOnly, c.criteria, certSel);
    const Bytes der = CertificateDer(wanted.get());
    for (const CertEntry& entry : c.inventory.Scan(tokensOnly)) {
        if (entry.der == der && TokenMatches(entry.token, tokenSel))
            return kOk;
    }
    Fail(kNotFound, "the token does not hold that certificate");
}

std::string GetKRVVersion(MainControl&, const MethodArgs&) {
    return std::string(kModuleVersion) + " (OpenSSL " + OpenSSL_version(OPENSSL_VERSION_STRING) +
           ", " + Pkcs11Registry::LibraryVersion() + ")";
}

int32_t CompareKRVVersion(MainControl&, const MethodArgs& a) {
    const auto wanted = ParseVersion(std::string(TrimBlanks(a.Text(0))));
    if (!wanted)
        Fail(kBadParam, "a version is dotted numbers, like 1.0.2");
    const auto own = ParseVersion(kModuleVersion);
    return CompareVersions(*own, *wanted) >= 0 ? kOk : 1;
}

int32_t NotifyKRVFlush(MainControl& c, const MethodArgs&) {
    c.CloseWindow();
    c.tokens.Reload();
    c.trust.Reload();
    return kOk;
}

int32_t ZQTCheckUkeyPin(MainControl& c, const MethodArgs& a) {
    const TokenInfo token = FindToken(c, std::string(TrimBlanks(a.Text(0))));
    Secret pin = a.SecretText(1);
    std::unique_ptr<TokenSession> session = c.tokens.Open(token);
    if (pin.empty() && token.pinpad) {
        session->Login(nullptr);
        return kOk;
    }
    if (pin.empty()) {
        PinRequest request;
        request.title = "Signing service";
        request.description = Asker(c.caller) +
                              " asks to check the PIN of your token.\n\nToken: " + token.label +
                              " (" + token.serial + ")";
        request.prompt = "PIN:";
        PinAnswer answer = AskPin({c.config.pinentry, c.config.pinTimeoutSeconds}, request);
        if (answer.status == PinStatus::kCancelled)
            Fail(kCancelled, "PIN entry cancelled");
        if (answer.status != PinStatus::kOk)
            Fail(kCancelled, "no usable PIN entry: " + answer.detail);
        pin = std::move(answer.pin);
    }
    session->Login(&pin);
    return kOk;  // the session logs out as it closes
}

std::string GetUkeySerialNumberByCertSN(MainControl& c, const MethodArgs& a) {
    const std::string serial(TrimBlanks(a.Text(0)));
    if (!NormalizeSerial(serial))
        Fail(kBadParam, "a serial number is hexadecimal");
    const StoreFilter tokensOnly{true, false, true};
    for (const CertEntry& entry : c.inventory.Scan(tokensOnly)) {
        if (SerialMatches(entry.cert.get(), serial))
            return entry.token.serial;
    }
    Fail(kNotFound, "no token holds a certificate with that serial number");
}

std::vector<std::string> MacAddresses() {
    std::vector<std::string> macs;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return macs;
    for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        const std::string name = it->ifa_name == nullptr ? "" : it->ifa_name;
        if (name.empty() || name == "lo" || name.find('/') != std::string::npos)
            continue;
        std::ifstream in("/sys/class/net/" + name + "/address");
        std::string mac;
        if (in >> mac && mac != "00:00:00:00:00:00" &&
            std::find(macs.begin(), macs.end(), mac) == macs.end()) {
            macs.push_back(mac);
        }
    }
    freeifaddrs(list);
    return macs;
}

std::string GetPCinfo(MainControl& c, const MethodArgs&) {
    if (!c.config.allowMachineInfo) {
        Fail(kPolicy, "machine information is off (allow_machine_info in reference.conf)");
    }
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    nlohmann::json info = {{"host", host}, {"macs", MacAddresses()}};
    return info.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
}

constexpr MethodRow kRows[] = {
    {92, "BB", nullptr, CheckUkey, false, false},
    {124, "B", nullptr, NotifyKRVFlush, false, false},
    {125, "", GetKRVVersion, nullptr, true, false},
    {126, "B", nullptr, CompareKRVVersion, false, false},
    {129, "BB", nullptr, ZQTCheckUkeyPin, false, false},
    {159, "B", GetUkeySerialNumberByCertSN, nullptr, true, false},
    {176, "", GetPCinfo, nullptr, true, false},
};

}  // namespace

MethodFamily DeviceMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
