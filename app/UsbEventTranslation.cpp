#include "app/UsbEventTranslation.h"

#include <cstdio>
#include <string_view>

namespace zqt {

namespace {

struct UsbIds {
    unsigned vendor = 0;
    unsigned product = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// One to four hex digits, either case; USB ids are 16 bits.
std::optional<unsigned> ParseUsbId(std::string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

std::optional<UsbIds> ParsePair(std::string_view vendor, std::string_view product) {
    const auto v = ParseUsbId(vendor);
    const auto p = ParseUsbId(product);
    if (!v || !p) {
        return std::nullopt;
    }
    return UsbIds{*v, *p};
}

// PRODUCT is "vendor/product/release" with lower-case hex and no leading zeros.
std::optional<UsbIds> ParseProductProperty(std::string_view product) {
    const std::size_t first = product.find('/');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t second = product.find('/', first + 1);
    if (second == std::string_view::npos) {
        return std::nullopt;
    }
    return ParsePair(product.substr(0, first), product.substr(first + 1, second - first - 1));
}

std::optional<UsbIds> FindIds(const UsbUevent& event) {
    if (auto ids = ParsePair(event.vendorId, event.modelId)) {
        return ids;
    }
    if (auto ids = ParsePair(event.sysVendor, event.sysProduct)) {
        return ids;
    }
    return ParseProductProperty(event.product);
}

// Windows instance ids hold printable ASCII only, and never the path's
// separators; anything else would break the name's fields.
std::string InstanceField(const UsbUevent& event) {
    std::string instance = event.serialShort.empty() ? event.sysname : event.serialShort;
    for (char& c : instance) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || c == '#' || c == '\\') {
            c = '_';
        }
    }
    return instance;
}

std::optional<std::uint32_t> EventCodeFor(std::string_view action) {
    if (action == "add") {
        return DBT_DEVICEARRIVAL;
    }
    if (action == "remove") {
        return DBT_DEVICEREMOVECOMPLETE;
    }
    return std::nullopt;
}

}  // namespace

std::optional<DeviceChangeRecord> TranslateUsbEvent(const UsbUevent& event) {
    const auto eventCode = EventCodeFor(event.action);
    if (!eventCode) {
        return std::nullopt;
    }
    const auto ids = FindIds(event);
    if (!ids) {
        return std::nullopt;
    }
    char device[32];
    std::snprintf(device, sizeof device, "VID_%04X&PID_%04X", ids->vendor, ids->product);
    const std::string name = std::string("\\\\?\\USB#") + device + "#" + InstanceField(event) +
                             "#" + kUsbDeviceInterfaceGuid;

    DeviceChangeRecord record;
    record.eventCode = *eventCode;
    record.deviceType = DBT_DEVTYP_DEVICEINTERFACE;
    record.name.assign(name.begin(), name.end());  // ASCII only, so one code unit each
    return record;
}

}  // namespace zqt
