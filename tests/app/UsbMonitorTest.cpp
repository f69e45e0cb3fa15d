#include <fcntl.h>

#include <gtest/gtest.h>

#include "app/UsbMonitor.h"

namespace {

TEST(UsbMonitor, ClosedMonitorHasNothing) {
    zqt::UsbMonitor monitor;
    EXPECT_FALSE(monitor.IsOpen());
    EXPECT_EQ(monitor.fd(), -1);
    EXPECT_FALSE(monitor.Receive().has_value());
}

TEST(UsbMonitor, OpenGivesAPollableDescriptor) {
    zqt::UsbMonitor monitor;
    if (!monitor.Open()) {
        GTEST_SKIP() << "no udev netlink socket here";
    }
    EXPECT_TRUE(monitor.IsOpen());
    EXPECT_TRUE(monitor.Open()) << "opening again keeps the monitor";
    const int fd = monitor.fd();
    ASSERT_GE(fd, 0);
    // The main loop polls it; a read must never block that loop.
    EXPECT_TRUE(::fcntl(fd, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_FALSE(monitor.Receive().has_value()) << "nothing pending returns at once";
}

}  // namespace
