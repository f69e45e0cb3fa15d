// The page's origin as prompts show it: what is kept, what is replaced,
// where it is cut, and who asks when no page is named.
#include "pin/CallerText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct CallerCase {
    std::u16string origin;
    std::string shown;
};

class CallerText : public ::testing::TestWithParam<CallerCase> {};

TEST_P(CallerText, KeepsOnlyWhatAnOriginHolds) {
    const std::u16string& origin = GetParam().origin;
    EXPECT_EQ(ref::CallerFromOrigin(reinterpret_cast<const uint16_t*>(origin.data()),
                                    static_cast<uint32_t>(origin.size())),
              GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CallerText,
    ::testing::Values(CallerCase{u"", ""},
                      CallerCase{u"https://bank.example", "https://bank.example"},
                      CallerCase{u"http://[::1]:8080", "http://[::1]:8080"},
                      CallerCase{u"https://a\r\nSETDESC x", "https://a??SETDESC?x"},
                      CallerCase{u"https://a%0Ab", "https://a%0Ab"},
                      CallerCase{u"https://\u202eelpmaxe.knab", "https://?elpmaxe.knab"},
                      CallerCase{std::u16string(u"a\0b", 3), "a?b"},
                      CallerCase{u"\x7f\x1b[2J", "??[2J"},
                      CallerCase{std::u16string(ref::kMaxCallerBytes, u'a'),
                                 std::string(ref::kMaxCallerBytes, 'a')},
                      CallerCase{std::u16string(ref::kMaxCallerBytes + 1, u'a'),
                                 std::string(ref::kMaxCallerBytes, 'a') + "\xe2\x80\xa6"}));

TEST(CallerTextNull, NoUnitsIsNoCaller) {
    EXPECT_EQ(ref::CallerFromOrigin(nullptr, 5), "");
}

TEST(Asker, IsTheOriginOrSaysNoPageWasGiven) {
    EXPECT_EQ(ref::Asker("https://bank.example"), "https://bank.example");
    EXPECT_NE(ref::Asker("").find("no web page given"), std::string::npos);
}

}  // namespace
