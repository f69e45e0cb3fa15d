// Runs under umockdev's preload: udev and its netlink events come from a
// test bed, so a device can be plugged in and pulled out without hardware.
#include <poll.h>

#include <gtest/gtest.h>
#include <umockdev.h>

#include "UmockdevDevices.h"

#include <memory>
#include <optional>
#include <string>

#include "app/UsbKeyWatcher.h"
#include "app/UsbMonitor.h"

namespace {

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

class UsbMonitorMockTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed.reset(umockdev_testbed_new());
        ASSERT_TRUE(testbed);
        // Only true once a test bed exists and the preload is in place.
        if (!umockdev_in_mock_environment()) {
            GTEST_SKIP() << "not run with umockdev's preload";
        }
        ASSERT_TRUE(monitor.Open());
    }

    std::string AddUsbDevice(const char* name, const char* devtype, const char* vendor,
                             const char* product, const char* serial) {
        return ::AddUsbDevice(testbed.get(), name, devtype, vendor, product, serial);
    }

    // The next event that makes a record, skipping those that make none;
    // nothing when the monitor stays quiet for quietMs.
    std::optional<zqt::DeviceChangeRecord> NextRecord(int quietMs = 3000) {
        for (;;) {
            pollfd ready{monitor.fd(), POLLIN, 0};
            if (::poll(&ready, 1, quietMs) != 1) {
                return std::nullopt;
            }
            if (auto record = monitor.Receive()) {
                return record;
            }
        }
    }

    TestbedPtr testbed;
    zqt::UsbMonitor monitor;
};

// Adding a device to the test bed announces it with an "add" event.
TEST_F(UsbMonitorMockTest, PlugAndPullOfAKeyBecomeArrivalAndRemoval) {
    const std::string path = AddUsbDevice("1-3", "usb_device", "055c", "7425", "SN42");
    ASSERT_FALSE(path.empty());
    auto arrival = NextRecord();
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->eventCode, zqt::DBT_DEVICEARRIVAL);
    EXPECT_EQ(arrival->deviceType, zqt::DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(Narrow(arrival->name),
              "\\\\?\\USB#VID_055C&PID_7425#SN42#{A5DCBF10-6530-11D2-901F-00C04FB951ED}");

    umockdev_testbed_uevent(testbed.get(), path.c_str(), "remove");
    auto removal = NextRecord();
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->eventCode, zqt::DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(Narrow(removal->name),
              "\\\\?\\USB#VID_055C&PID_7425#SN42#{A5DCBF10-6530-11D2-901F-00C04FB951ED}");
}

TEST_F(UsbMonitorMockTest, InterfacesAreFilteredOutAndBindGivesNothing) {
    const std::string iface = AddUsbDevice("1-3:1.0", "usb_interface", "055c", "7425", "SN1");
    const std::string device = AddUsbDevice("1-4", "usb_device", "5448", "0003", "");
    ASSERT_FALSE(iface.empty());
    ASSERT_FALSE(device.empty());
    // The interface's "add" never makes a record, though it carries a known model.
    auto arrival = NextRecord();
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->eventCode, zqt::DBT_DEVICEARRIVAL);
    EXPECT_EQ(Narrow(arrival->name),
              "\\\\?\\USB#VID_5448&PID_0003#1-4#{A5DCBF10-6530-11D2-901F-00C04FB951ED}");

    umockdev_testbed_uevent(testbed.get(), device.c_str(), "bind");
    umockdev_testbed_uevent(testbed.get(), device.c_str(), "change");
    umockdev_testbed_uevent(testbed.get(), iface.c_str(), "remove");
    umockdev_testbed_uevent(testbed.get(), device.c_str(), "remove");
    auto next = NextRecord();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->eventCode, zqt::DBT_DEVICEREMOVECOMPLETE);
    EXPECT_EQ(zqt::DeviceIdentifierField(next->name), u"VID_5448&PID_0003");
    EXPECT_FALSE(NextRecord(300).has_value());
}

TEST_F(UsbMonitorMockTest, AKnownKeyRefreshesTheList) {
    CertSealListCache cache;
    int reads = 0;
    zqt::UsbKeyWatcher watcher(cache, [&reads] {
        ++reads;
        return std::u16string(u"list");
    });
    ASSERT_FALSE(AddUsbDevice("2-1", "usb_device", "5448", "0003", "K").empty());
    auto arrival = NextRecord();
    ASSERT_TRUE(arrival);
    EXPECT_EQ(watcher.OnDeviceChange(*arrival), 0u);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(cache.text, u"list");
}

}  // namespace
