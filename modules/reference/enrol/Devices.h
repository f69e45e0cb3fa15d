#pragma once
// The devices a key pair can be made on: every initialised, writable
// PKCS#11 token, and the software store ("soft"), which is always there.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "enrol/EnrolKeys.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

struct Device {
    bool soft = false;
    TokenInfo token;  // tokens only

    std::string label() const;
    std::string serial() const;
    // "<label> (<serial>)"
    std::string name() const;
    bool operator==(const Device& other) const;
};

// Tokens first, in the registry's order, then the soft device.
std::vector<Device> ListDevices(Pkcs11Registry& tokens);

// The device named by its name, serial, label or "soft"; nullopt when none
// of the present devices is it.
std::optional<Device> FindDevice(const std::vector<Device>& devices, std::string_view text);

// The key types the device can make: a token's follow its mechanism list
// (SM2 never, as PKCS#11 has no standard mechanism for it). Throws as the
// session does (kNoToken for a pulled token).
std::vector<KeySpec> DeviceKeySpecs(Pkcs11Registry& tokens, const Device& device);

// The soft device's label and serial.
inline constexpr std::string_view kSoftLabel = "Software store";
inline constexpr std::string_view kSoftSerial = "soft";

}  // namespace ref
