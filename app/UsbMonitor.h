#pragma once
// Watches udev for USB devices coming and going, for the main loop to poll.

#include <memory>
#include <optional>

#include "app/DeviceChange.h"

struct udev;
struct udev_monitor;
struct udev_device;

namespace zqt {

struct UsbUevent;

// The facts of one udev device that the translation needs.
UsbUevent ReadUsbUevent(udev_device* device);

class UsbMonitor {
  public:
    UsbMonitor();
    ~UsbMonitor();
    UsbMonitor(const UsbMonitor&) = delete;
    UsbMonitor& operator=(const UsbMonitor&) = delete;

    // Subscribes to subsystem "usb", device type "usb_device". False when
    // udev cannot be reached; USB key events are then not seen.
    bool Open();
    bool IsOpen() const { return m_monitor != nullptr; }

    // Non-blocking, close-on-exec; -1 when not open. Readable means Receive().
    int fd() const;

    // One pending event as a notification; nothing when none is pending or
    // the event is not an add or remove of a device with readable ids.
    std::optional<DeviceChangeRecord> Receive();

  private:
    struct UdevDeleter {
        void operator()(udev* handle) const;
    };
    struct MonitorDeleter {
        void operator()(udev_monitor* handle) const;
    };

    std::unique_ptr<udev, UdevDeleter> m_udev;
    std::unique_ptr<udev_monitor, MonitorDeleter> m_monitor;
};

}  // namespace zqt
