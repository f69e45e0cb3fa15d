#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "app/UsbEventTranslation.h"
#include "app/UsbKeyWatcher.h"

namespace {

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

struct TranslationCase {
    const char* label;
    zqt::UsbUevent event;
    bool gives;
    std::uint32_t eventCode;
    std::string name;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const TranslationCase& c, std::ostream* os) {
    *os << c.label;
}

class TranslateUsbEventTest : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(TranslateUsbEventTest, GivesTheWindowsRecord) {
    const TranslationCase& c = GetParam();
    const auto record = zqt::TranslateUsbEvent(c.event);
    ASSERT_EQ(record.has_value(), c.gives);
    if (!record) {
        return;
    }
    EXPECT_EQ(record->eventCode, c.eventCode);
    EXPECT_EQ(record->deviceType, zqt::DBT_DEVTYP_DEVICEINTERFACE);
    EXPECT_EQ(Narrow(record->name), c.name);
}

const std::string kGuid = "#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

zqt::UsbUevent Event(std::string action) {
    zqt::UsbUevent event;
    event.action = std::move(action);
    event.sysname = "1-1.2";
    return event;
}

zqt::UsbUevent WithProperties(std::string action, std::string vendor, std::string model,
                              std::string serial = "") {
    zqt::UsbUevent event = Event(std::move(action));
    event.vendorId = std::move(vendor);
    event.modelId = std::move(model);
    event.serialShort = std::move(serial);
    return event;
}

zqt::UsbUevent WithSysattrs(std::string action, std::string vendor, std::string product) {
    zqt::UsbUevent event = Event(std::move(action));
    event.sysVendor = std::move(vendor);
    event.sysProduct = std::move(product);
    return event;
}

zqt::UsbUevent WithProduct(std::string action, std::string product, std::string serial = "") {
    zqt::UsbUevent event = Event(std::move(action));
    event.product = std::move(product);
    event.serialShort = std::move(serial);
    return event;
}

const TranslationCase kTranslationCases[] = {
    {"AddWithProperties", WithProperties("add", "055c", "7425", "A1B2C3"), true,
     zqt::DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_055C&PID_7425#A1B2C3" + kGuid},
    {"RemoveWithProperties", WithProperties("remove", "5448", "0003", "K9"), true,
     zqt::DBT_DEVICEREMOVECOMPLETE, "\\\\?\\USB#VID_5448&PID_0003#K9" + kGuid},
    {"NoSerialUsesSysname", WithProperties("add", "046d", "c52b"), true, zqt::DBT_DEVICEARRIVAL,
     "\\\\?\\USB#VID_046D&PID_C52B#1-1.2" + kGuid},
    {"UpperCaseInput", WithProperties("add", "055C", "7425"), true, zqt::DBT_DEVICEARRIVAL,
     "\\\\?\\USB#VID_055C&PID_7425#1-1.2" + kGuid},
    {"SysattrsOnly", WithSysattrs("add", "055c", "7425"), true, zqt::DBT_DEVICEARRIVAL,
     "\\\\?\\USB#VID_055C&PID_7425#1-1.2" + kGuid},
    {"RemoveWithOnlyProduct", WithProduct("remove", "55c/7425/100"), true,
     zqt::DBT_DEVICEREMOVECOMPLETE, "\\\\?\\USB#VID_055C&PID_7425#1-1.2" + kGuid},
    {"ProductPadsShortIds", WithProduct("remove", "1/2/0", "S"), true,
     zqt::DBT_DEVICEREMOVECOMPLETE, "\\\\?\\USB#VID_0001&PID_0002#S" + kGuid},
    {"ProductWithoutRelease", WithProduct("remove", "5448/3"), false, 0, ""},
    {"ProductNotHex", WithProduct("remove", "55g/7425/100"), false, 0, ""},
    {"ProductTooLong", WithProduct("remove", "1055c/7425/100"), false, 0, ""},
    {"ProductEmptyVendor", WithProduct("remove", "/7425/100"), false, 0, ""},
    {"MissingIds", Event("add"), false, 0, ""},
    {"OnlyVendor", WithProperties("add", "055c", ""), false, 0, ""},
    {"IdNotHex", WithProperties("add", "05 5c", "7425"), false, 0, ""},
    {"Bind", WithProperties("bind", "055c", "7425"), false, 0, ""},
    {"Unbind", WithProperties("unbind", "055c", "7425"), false, 0, ""},
    {"Change", WithProperties("change", "055c", "7425"), false, 0, ""},
    {"NoAction", WithProperties("", "055c", "7425"), false, 0, ""},
    {"ActionCaseMatters", WithProperties("ADD", "055c", "7425"), false, 0, ""},
    {"SerialSeparatorsReplaced", WithProperties("add", "055c", "7425", "a#b\\c d\x01"), true,
     zqt::DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_055C&PID_7425#a_b_c_d_" + kGuid},
    {"SerialNonAsciiReplaced", WithProperties("add", "055c", "7425", "\xC3\xA9"), true,
     zqt::DBT_DEVICEARRIVAL, "\\\\?\\USB#VID_055C&PID_7425#__" + kGuid},
};

INSTANTIATE_TEST_SUITE_P(Cases, TranslateUsbEventTest, ::testing::ValuesIn(kTranslationCases),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(TranslateUsbEvent, PropertiesWinOverSysattrsAndProduct) {
    zqt::UsbUevent event = WithProperties("add", "055c", "7425");
    event.sysVendor = "1111";
    event.sysProduct = "2222";
    event.product = "3333/4444/0";
    const auto record = zqt::TranslateUsbEvent(event);
    ASSERT_TRUE(record);
    EXPECT_EQ(zqt::DeviceIdentifierField(record->name), u"VID_055C&PID_7425");
}

TEST(TranslateUsbEvent, UnreadablePropertiesFallBack) {
    zqt::UsbUevent event = WithProperties("add", "zzzz", "7425");
    event.sysVendor = "5448";
    event.sysProduct = "3";
    const auto record = zqt::TranslateUsbEvent(event);
    ASSERT_TRUE(record);
    EXPECT_EQ(zqt::DeviceIdentifierField(record->name), u"VID_5448&PID_0003");
}

// The two halves together: what the monitor makes, the watcher acts on.
TEST(TranslateUsbEvent, KnownKeyRemovalReachesTheWatcher) {
    CertSealListCache cache;
    int reads = 0;
    zqt::UsbKeyWatcher watcher(cache, [&reads] {
        ++reads;
        return std::u16string(u"after");
    });
    const auto known = zqt::TranslateUsbEvent(WithProduct("remove", "55c/7425/100"));
    const auto other = zqt::TranslateUsbEvent(WithProduct("remove", "46d/c52b/100"));
    ASSERT_TRUE(known && other);
    watcher.OnDeviceChange(*other);
    EXPECT_EQ(reads, 0);
    watcher.OnDeviceChange(*known);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(cache.text, u"after");
}

}  // namespace
