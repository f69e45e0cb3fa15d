#include "app/UsbMonitor.h"

#include <libudev.h>

#include "app/UsbEventTranslation.h"

namespace zqt {

namespace {

std::string Text(const char* value) {
    return value ? std::string(value) : std::string();
}

struct DeviceDeleter {
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

}  // namespace

UsbUevent ReadUsbUevent(udev_device* device) {
    UsbUevent event;
    event.action = Text(udev_device_get_action(device));
    event.sysname = Text(udev_device_get_sysname(device));
    event.vendorId = Text(udev_device_get_property_value(device, "ID_VENDOR_ID"));
    event.modelId = Text(udev_device_get_property_value(device, "ID_MODEL_ID"));
    event.product = Text(udev_device_get_property_value(device, "PRODUCT"));
    event.serialShort = Text(udev_device_get_property_value(device, "ID_SERIAL_SHORT"));
    // The sysfs node is gone by the time a removal arrives.
    if (event.action != "remove") {
        event.sysVendor = Text(udev_device_get_sysattr_value(device, "idVendor"));
        event.sysProduct = Text(udev_device_get_sysattr_value(device, "idProduct"));
    }
    return event;
}

void UsbMonitor::UdevDeleter::operator()(udev* handle) const {
    udev_unref(handle);
}

void UsbMonitor::MonitorDeleter::operator()(udev_monitor* handle) const {
    udev_monitor_unref(handle);
}

UsbMonitor::UsbMonitor() = default;

UsbMonitor::~UsbMonitor() = default;

bool UsbMonitor::Open() {
    if (IsOpen()) {
        return true;
    }
    std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) {
        return false;
    }
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor(
        udev_monitor_new_from_netlink(context.get(), "udev"));
    if (!monitor) {
        return false;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        return false;
    }
    m_udev = std::move(context);
    m_monitor = std::move(monitor);
    return true;
}

int UsbMonitor::fd() const {
    return m_monitor ? udev_monitor_get_fd(m_monitor.get()) : -1;
}

std::optional<DeviceChangeRecord> UsbMonitor::Receive() {
    if (!m_monitor) {
        return std::nullopt;
    }
    std::unique_ptr<udev_device, DeviceDeleter> device(
        udev_monitor_receive_device(m_monitor.get()));
    if (!device) {
        return std::nullopt;
    }
    return TranslateUsbEvent(ReadUsbUevent(device.get()));
}

}  // namespace zqt
