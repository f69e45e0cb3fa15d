#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <thread>

#include "app/UsbKeyWatcher.h"

namespace {

using zqt::DeviceChangeRecord;

constexpr const char16_t* kGuid = u"{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

std::u16string Path(std::u16string_view bus, std::u16string_view id,
                    std::u16string_view instance = u"0123456789") {
    return u"\\\\?\\" + std::u16string(bus) + u"#" + std::u16string(id) + u"#" +
           std::u16string(instance) + u"#" + kGuid;
}

// A reader that counts its calls and hands out a fresh text each time.
struct CountingReader {
    int calls = 0;
    std::u16string Next() {
        ++calls;
        return u"list-" + std::u16string(1, static_cast<char16_t>(u'0' + calls));
    }
};

struct WatcherCase {
    const char* label;
    std::uint32_t eventCode;
    std::uint32_t deviceType;
    std::u16string name;
    bool refreshes;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const WatcherCase& c, std::ostream* os) {
    *os << c.label;
}

class UsbKeyWatcherCases : public ::testing::TestWithParam<WatcherCase> {};

TEST_P(UsbKeyWatcherCases, RefreshesOnlyForKnownKeys) {
    const WatcherCase& c = GetParam();
    CertSealListCache cache;
    cache.text = u"before";
    CountingReader reader;
    zqt::UsbKeyWatcher watcher(cache, [&reader] { return reader.Next(); });

    const DeviceChangeRecord record{c.eventCode, c.deviceType, c.name};
    EXPECT_EQ(watcher.OnDeviceChange(c.eventCode, &record), 0u);
    EXPECT_EQ(reader.calls, c.refreshes ? 1 : 0);
    EXPECT_EQ(cache.text, c.refreshes ? u"list-1" : u"before");
}

const WatcherCase kWatcherCases[] = {
    {"FirstModelArrives", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425"), true},
    {"FirstModelRemoved", zqt::DBT_DEVICEREMOVECOMPLETE, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425"), true},
    {"SecondModelArrives", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_5448&PID_0003"), true},
    {"SecondModelRemoved", zqt::DBT_DEVICEREMOVECOMPLETE, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_5448&PID_0003"), true},
    {"OtherBusSameIdentifier", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"HID", u"VID_055C&PID_7425"), true},
    {"EmptyInstance", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425", u""), true},
    {"AnyPrefix", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"abcdUSB#VID_055C&PID_7425#x", true},
    {"NothingAfterSecondHash", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"\\\\?\\USB#VID_055C&PID_7425#", true},
    {"LowerCase", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"vid_055c&pid_7425"), false},
    {"MixedCase", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055c&PID_7425"), false},
    {"OtherDevice", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_046D&PID_C52B"), false},
    {"ModelsCrossed", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_0003"), false},
    {"IdentifierCut", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_742"), false},
    {"IdentifierLonger", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_74250"), false},
    {"IdentifierWithInterface", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425&MI_00"), false},
    {"IdentifierInInstanceField", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_046D&PID_C52B", u"VID_055C&PID_7425"), false},
    {"QueryRemove", zqt::DBT_DEVICEQUERYREMOVE, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425"), false},
    {"RemovePending", zqt::DBT_DEVICEREMOVEPENDING, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425"), false},
    {"NodesChanged", zqt::DBT_DEVNODES_CHANGED, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     Path(u"USB", u"VID_055C&PID_7425"), false},
    {"EventCodeZero", 0, zqt::DBT_DEVTYP_DEVICEINTERFACE, Path(u"USB", u"VID_055C&PID_7425"),
     false},
    {"VolumeType", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_VOLUME,
     Path(u"USB", u"VID_055C&PID_7425"), false},
    {"PortType", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_PORT, Path(u"USB", u"VID_055C&PID_7425"),
     false},
    {"HandleType", zqt::DBT_DEVICEREMOVECOMPLETE, zqt::DBT_DEVTYP_HANDLE,
     Path(u"USB", u"VID_055C&PID_7425"), false},
    {"OneHash", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"\\\\?\\USB#VID_055C&PID_7425", false},
    {"OneHashAndMore", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"\\\\?\\USB#VID_055C&PID_7425{A5DCBF10-6530-11D2-901F-00C04FB951ED}", false},
    {"NoHash", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE, u"\\\\?\\VID_055C&PID_7425",
     false},
    {"EmptyName", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE, u"", false},
    {"ShorterThanPrefix", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE, u"#V#", false},
    {"OnlyPrefix", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE, u"\\\\?\\", false},
    {"HashesInsidePrefix", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"#VID_055C&PID_7425#x", false},
    {"WithoutPrefix", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"USB#VID_055C&PID_7425#x#y", false},
    {"NulBeforeIdentifier", zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
     u"\\\\?\\USB" + std::u16string(1, u'\0') + u"#VID_055C&PID_7425#x", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, UsbKeyWatcherCases, ::testing::ValuesIn(kWatcherCases),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(DeviceIdentifierField, IsTheTextBetweenTheFirstTwoHashes) {
    EXPECT_EQ(zqt::DeviceIdentifierField(Path(u"USB", u"VID_055C&PID_7425")), u"VID_055C&PID_7425");
    EXPECT_EQ(zqt::DeviceIdentifierField(u"\\\\?\\A##B"), u"");
    EXPECT_EQ(zqt::DeviceIdentifierField(u"\\\\?\\A#B#C#D"), u"B");
    EXPECT_EQ(zqt::DeviceIdentifierField(u"\\\\?\\A#B"), u"");
    EXPECT_EQ(zqt::DeviceIdentifierField(u"ab"), u"");
}

TEST(IsKnownKeyModel, MatchesExactlyTheTwoModels) {
    EXPECT_TRUE(zqt::IsKnownKeyModel(u"VID_055C&PID_7425"));
    EXPECT_TRUE(zqt::IsKnownKeyModel(u"VID_5448&PID_0003"));
    EXPECT_FALSE(zqt::IsKnownKeyModel(u"VID_5448&PID_0003 "));
    EXPECT_FALSE(zqt::IsKnownKeyModel(u""));
}

class UsbKeyWatcherTest : public ::testing::Test {
  protected:
    CertSealListCache cache;
    CountingReader reader;
    zqt::UsbKeyWatcher watcher{cache, [this] { return reader.Next(); }};
    const DeviceChangeRecord arrival{zqt::DBT_DEVICEARRIVAL, zqt::DBT_DEVTYP_DEVICEINTERFACE,
                                     Path(u"USB", u"VID_055C&PID_7425")};
    const DeviceChangeRecord removal{zqt::DBT_DEVICEREMOVECOMPLETE, zqt::DBT_DEVTYP_DEVICEINTERFACE,
                                     Path(u"USB", u"VID_055C&PID_7425")};
};

TEST_F(UsbKeyWatcherTest, ArrivalThenRemovalRefreshesEachTime) {
    EXPECT_EQ(watcher.OnDeviceChange(arrival), 0u);
    EXPECT_EQ(cache.text, u"list-1");
    EXPECT_EQ(watcher.OnDeviceChange(removal), 0u);
    EXPECT_EQ(cache.text, u"list-2");
    EXPECT_EQ(reader.calls, 2);
}

TEST_F(UsbKeyWatcherTest, EventCodeComesFromTheArgument) {
    // As with WM_DEVICECHANGE, the code travels beside the record.
    EXPECT_EQ(watcher.OnDeviceChange(zqt::DBT_DEVICEQUERYREMOVE, &arrival), 0u);
    EXPECT_EQ(reader.calls, 0);
    EXPECT_EQ(watcher.OnDeviceChange(zqt::DBT_DEVICEREMOVECOMPLETE, &arrival), 0u);
    EXPECT_EQ(reader.calls, 1);
}

TEST_F(UsbKeyWatcherTest, EmptyReadReplacesTheList) {
    cache.text = std::u16string(60, u'x');
    zqt::UsbKeyWatcher emptying(cache, [] { return std::u16string(); });
    EXPECT_EQ(emptying.OnDeviceChange(removal), 0u);
    EXPECT_TRUE(cache.text.empty());
}

TEST_F(UsbKeyWatcherTest, NullRecordIsIgnored) {
    cache.text = u"kept";
    EXPECT_EQ(watcher.OnDeviceChange(zqt::DBT_DEVICEARRIVAL, nullptr), 0u);
    EXPECT_EQ(reader.calls, 0);
    EXPECT_EQ(cache.text, u"kept");
}

TEST_F(UsbKeyWatcherTest, EventsAfterStopAreIgnored) {
    EXPECT_FALSE(watcher.Stopping());
    EXPECT_EQ(watcher.OnDeviceChange(arrival), 0u);
    watcher.Stop();
    EXPECT_TRUE(watcher.Stopping());
    EXPECT_EQ(watcher.OnDeviceChange(removal), 0u);
    EXPECT_EQ(watcher.OnDeviceChange(arrival), 0u);
    EXPECT_EQ(reader.calls, 1);
    EXPECT_EQ(cache.text, u"list-1");
}

TEST_F(UsbKeyWatcherTest, ReadsWhileHoldingTheListLock) {
    bool lockedDuringRead = false;
    zqt::UsbKeyWatcher probing(cache, [&] {
        // Another thread must find the lock taken while the list is read.
        std::thread other([&] {
            const bool got = cache.listLock.try_lock();
            if (got) {
                cache.listLock.unlock();
            }
            lockedDuringRead = !got;
        });
        other.join();
        return std::u16string(u"fresh");
    });
    EXPECT_EQ(probing.OnDeviceChange(arrival), 0u);
    EXPECT_TRUE(lockedDuringRead);
    EXPECT_EQ(cache.text, u"fresh");
    // And it is free again afterwards.
    ASSERT_TRUE(cache.listLock.try_lock());
    cache.listLock.unlock();
}

}  // namespace
