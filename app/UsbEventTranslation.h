#pragma once
// Turns a udev event of a USB device into the device-interface notification
// the USB key watcher understands, with the name written as Windows writes it.

#include <optional>
#include <string>

#include "app/DeviceChange.h"

namespace zqt {

// What a udev event tells about a USB device; empty when absent.
struct UsbUevent {
    std::string action;       // "add", "remove", "bind", ...
    std::string sysname;      // e.g. "1-1.2"
    std::string vendorId;     // property ID_VENDOR_ID
    std::string modelId;      // property ID_MODEL_ID
    std::string sysVendor;    // sysattr idVendor (gone on remove)
    std::string sysProduct;   // sysattr idProduct (gone on remove)
    std::string product;      // property PRODUCT, "vvvv/pppp/rrrr" in hex
    std::string serialShort;  // property ID_SERIAL_SHORT
};

// The class GUID of USB device interfaces, as the name's last field.
inline constexpr const char* kUsbDeviceInterfaceGuid = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

// add -> DBT_DEVICEARRIVAL, remove -> DBT_DEVICEREMOVECOMPLETE, device type 5,
// name \\?\USB#VID_%04X&PID_%04X#<serial or sysname>#{GUID}. Other actions,
// or no readable vendor and product ids, give nothing.
std::optional<DeviceChangeRecord> TranslateUsbEvent(const UsbUevent& event);

}  // namespace zqt
