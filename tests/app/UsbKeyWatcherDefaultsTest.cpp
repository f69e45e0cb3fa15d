// Runs with the scripted side library on LD_LIBRARY_PATH.
#include <stdlib.h>

#include <gtest/gtest.h>

#include <mutex>

#include "app/UsbKeyWatcher.h"

namespace {

const zqt::DeviceChangeRecord kArrival{zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
                                       u"\\\\?\\USB#VID_5448&PID_0003#SN1#{guid}"};

std::u16string CachedText() {
    std::lock_guard<std::mutex> hold(TheCertSealListCache().listLock);
    return TheCertSealListCache().text;
}

TEST(UsbKeyWatcherDefaults, RefreshesTheProcessCacheFromTheSideLibrary) {
    ::setenv("ZQT_SIDELIB_LIST_XEPA", "CERT:alice|SEAL:bob", 1);
    zqt::UsbKeyWatcher watcher;
    EXPECT_EQ(watcher.OnDeviceChange(kArrival), 0u);
    EXPECT_EQ(CachedText(), u"CERT:alice|SEAL:bob");

    // The key is gone and the library now lists nothing: the cache follows.
    ::unsetenv("ZQT_SIDELIB_LIST_XEPA");
    const zqt::DeviceChangeRecord removal{zqt::DBT_DEVICEREMOVECOMPLETE, kArrival.deviceType,
                                          kArrival.name};
    EXPECT_EQ(watcher.OnDeviceChange(removal), 0u);
    EXPECT_EQ(CachedText(), u"");
}

}  // namespace
