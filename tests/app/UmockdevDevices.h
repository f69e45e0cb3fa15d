#pragma once
// A umockdev test bed and the USB devices the tests plug into it.

#include <umockdev.h>

#include <memory>
#include <string>

struct TestbedDeleter {
    void operator()(UMockdevTestbed* testbed) const { g_object_unref(testbed); }
};

using TestbedPtr = std::unique_ptr<UMockdevTestbed, TestbedDeleter>;

// Adds a USB device with the ids as sysfs attributes and udev properties;
// its sysfs path, or "" when the test bed refused it.
inline std::string AddUsbDevice(UMockdevTestbed* testbed, const char* name, const char* devtype,
                                const char* vendor, const char* product, const char* serial) {
    gchar* path =
        umockdev_testbed_add_device(testbed, "usb", name, nullptr,
                                    // sysfs attributes
                                    "idVendor", vendor, "idProduct", product, nullptr,
                                    // udev properties
                                    "DEVTYPE", devtype, "ID_VENDOR_ID", vendor, "ID_MODEL_ID",
                                    product, "ID_SERIAL_SHORT", serial, nullptr);
    std::string text = path != nullptr ? path : "";
    g_free(path);
    return text;
}
