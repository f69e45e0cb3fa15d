#include "enrol/Devices.h"

#include <algorithm>

#include "pkcs11/TokenSession.h"

namespace ref {

std::string Device::label() const {
    return soft ? std::string(kSoftLabel) : token.label;
}

std::string Device::serial() const {
    return soft ? std::string(kSoftSerial) : token.serial;
}

std::string Device::name() const {
    return label() + " (" + serial() + ")";
}

bool Device::operator==(const Device& other) const {
    if (soft || other.soft)
        return soft == other.soft;
    return token.module == other.token.module && token.serial == other.token.serial &&
           token.label == other.token.label;
}

std::vector<Device> ListDevices(Pkcs11Registry& tokens) {
    std::vector<Device> devices;
    for (const TokenInfo& token : tokens.Tokens()) {
        if (token.writable)
            devices.push_back(Device{false, token});
    }
    devices.push_back(Device{true, {}});
    return devices;
}

std::optional<Device> FindDevice(const std::vector<Device>& devices, std::string_view text) {
    if (text.empty())
        return std::nullopt;
    // The full name first: a label may look like another token's serial.
    for (auto match : {&Device::name, &Device::serial, &Device::label}) {
        const auto it = std::find_if(devices.begin(), devices.end(),
                                     [&](const Device& d) { return (d.*match)() == text; });
        if (it != devices.end())
            return *it;
    }
    return std::nullopt;
}

std::vector<KeySpec> DeviceKeySpecs(Pkcs11Registry& tokens, const Device& device) {
    if (device.soft)
        return {KeySpec::kRsa2048, KeySpec::kRsa3072, KeySpec::kEc256, KeySpec::kSm2};
    const std::vector<CK_MECHANISM_TYPE> mechanisms = tokens.Open(device.token)->Mechanisms();
    const auto has = [&](CK_MECHANISM_TYPE m) {
        return std::find(mechanisms.begin(), mechanisms.end(), m) != mechanisms.end();
    };
    std::vector<KeySpec> keySpecs;
    if (has(CKM_RSA_PKCS_KEY_PAIR_GEN)) {
        keySpecs.push_back(KeySpec::kRsa2048);
        keySpecs.push_back(KeySpec::kRsa3072);
    }
    if (has(CKM_EC_KEY_PAIR_GEN))
        keySpecs.push_back(KeySpec::kEc256);
    return keySpecs;
}

}  // namespace ref
