#include "support/TextConversion.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using std::string_literals::operator""s;

struct Utf8Case {
    const char* name;
    std::string input;
    std::u16string utf16;
    std::string sanitized;
};

class Utf8Cases : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Cases, ConvertAndSanitize) {
    const Utf8Case& c = GetParam();
    EXPECT_EQ(zqt::Utf8ToUtf16(c.input), c.utf16);
    EXPECT_EQ(zqt::SanitizeUtf8(c.input), c.sanitized);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf8Cases,
    testing::Values(Utf8Case{"Empty", "", u"", ""},
                    Utf8Case{"Ascii", "FunctionType[1]", u"FunctionType[1]", "FunctionType[1]"},
                    Utf8Case{"TwoThreeFourBytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"é€😀",
                             "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
                    Utf8Case{"EndsAtFirstNul", "ab\0cd"s, u"ab", "ab\0cd"s},
                    Utf8Case{"NulEndsTruncatedSequence", "\xE2\x82\0\xAC"s, u"\uFFFD",
                             "\xEF\xBF\xBD\0\xEF\xBF\xBD"s},
                    Utf8Case{"LeadingNul", "\0abc"s, u"", "\0abc"s},
                    Utf8Case{"OverlongIsOnePerByte", "\xC0\xAF", u"\uFFFD\uFFFD",
                             "\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Utf8Case{"EncodedSurrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD",
                             "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Utf8Case{"TruncatedIsOne", "\xF0\x9F\x98z", u"\uFFFDz", "\xEF\xBF\xBDz"},
                    Utf8Case{"AboveMaximum", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD",
                             "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                    Utf8Case{"Maximum", "\xF4\x8F\xBF\xBF", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"}),
    [](const auto& c) { return std::string(c.param.name); });

struct Utf16Case {
    const char* name;
    std::u16string input;
    std::string utf8;
};

class Utf16Cases : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16Cases, ToUtf8) {
    EXPECT_EQ(zqt::Utf16ToUtf8(GetParam().input), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Text, Utf16Cases,
    testing::Values(
        Utf16Case{"Empty", u"", ""},
        Utf16Case{"Mixed", u"a\u00E9\u20AC\U0001F600", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        Utf16Case{"KeepsNul", u"a\0b"s, "a\0b"s},
        Utf16Case{"LoneHigh", std::u16string{0xD800, u'x'}, "\xEF\xBF\xBDx"},
        Utf16Case{"LoneLow", std::u16string{u'x', 0xDC00}, "x\xEF\xBF\xBD"},
        Utf16Case{"HighAtEnd", std::u16string{u'x', 0xDBFF}, "x\xEF\xBF\xBD"},
        Utf16Case{"ReversedPair", std::u16string{0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(TextConversion, ValidTextSurvivesTheRoundTrip) {
    const std::string text = "Seal \xE5\x8D\xB0\xE7\xAB\xA0 \xF0\x9F\x94\x8F [ok]";
    EXPECT_EQ(zqt::Utf16ToUtf8(zqt::Utf8ToUtf16(text)), text);
}

}  // namespace
