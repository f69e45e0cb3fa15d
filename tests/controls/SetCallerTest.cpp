// The optional caller entry point through the wrappers: each control is told
// the origin given, byte for byte, and a wrapper whose control is missing
// does nothing.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TestLibraries.h"
#include "controls/HostedControl.h"

namespace {

// What zqt_control_set_caller of one recording module has received.
class CallerLog {
  public:
    explicit CallerLog(const std::string& file)
        : library_(file),
          reset_(reinterpret_cast<void (*)()>(library_.Symbol("zqt_recording_reset"))),
          count_(reinterpret_cast<uint32_t (*)()>(library_.Symbol("zqt_recording_caller_count"))),
          caller_(
              reinterpret_cast<int32_t (*)(uint32_t, const char**, const uint16_t**, uint32_t*)>(
                  library_.Symbol("zqt_recording_caller"))) {}

    void Reset() const { reset_(); }
    std::vector<std::pair<std::string, std::u16string>> Seen() const {
        std::vector<std::pair<std::string, std::u16string>> seen;
        for (uint32_t i = 0; i < count_(); ++i) {
            const char* classId = nullptr;
            const uint16_t* origin = nullptr;
            uint32_t length = 0;
            if (caller_(i, &classId, &origin, &length) != 0) {
                seen.emplace_back(
                    classId, std::u16string(reinterpret_cast<const char16_t*>(origin), length));
            }
        }
        return seen;
    }

  private:
    HeldLibrary library_;
    void (*reset_)();
    uint32_t (*count_)();
    int32_t (*caller_)(uint32_t, const char**, const uint16_t**, uint32_t*);
};

class SetCallerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        main_.Reset();
        enrol_.Reset();
        CUlvoctrlctrl::Instance().Release();
        CUlvocertenrollctrl::Instance().Release();
    }
    void TearDown() override {
        CUlvoctrlctrl::Instance().Release();
        CUlvocertenrollctrl::Instance().Release();
    }

    CallerLog main_{"libulvoctrl.so"};
    CallerLog enrol_{"libulvocertenroll.so"};
};

TEST_F(SetCallerTest, EachControlIsToldTheOriginItsRequestCameWith) {
    ASSERT_TRUE(CUlvoctrlctrl::Instance().Create());
    ASSERT_TRUE(CUlvocertenrollctrl::Instance().Create());
    const std::u16string origins[] = {u"https://bank.example", u"", u"https://\u7b7e.example",
                                      std::u16string(u"a\0b", 3)};
    for (const std::u16string& origin : origins) {
        CUlvoctrlctrl::Instance().SetCaller(origin);
    }
    CUlvocertenrollctrl::Instance().SetCaller(u"https://ca.example");
    EXPECT_EQ(main_.Seen(),
              (std::vector<std::pair<std::string, std::u16string>>{{"ulvo.ctrl", origins[0]},
                                                                   {"ulvo.ctrl", origins[1]},
                                                                   {"ulvo.ctrl", origins[2]},
                                                                   {"ulvo.ctrl", origins[3]}}));
    EXPECT_EQ(enrol_.Seen(), (std::vector<std::pair<std::string, std::u16string>>{
                                 {"ulvo.certenroll", u"https://ca.example"}}));
}

TEST_F(SetCallerTest, AMissingControlIsNotTold) {
    CUlvoctrlctrl::Instance().SetCaller(u"https://bank.example");  // never created
    EXPECT_TRUE(main_.Seen().empty());
}

}  // namespace
