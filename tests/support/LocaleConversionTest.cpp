#include <gtest/gtest.h>
#include <langinfo.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "TempDir.h"
#include "support/CharsetConversion.h"
#include "support/TextConversion.h"

namespace {

using std::string_literals::operator""s;

struct CharsetCase {
    const char* name;
    const char* charset;
    std::u16string text;
    std::string bytes;
};

// Pairs that convert exactly both ways.
class CharsetRoundTrip : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetRoundTrip, BothWays) {
    const CharsetCase& c = GetParam();
    EXPECT_EQ(zqt::detail::Utf16ToCharset(c.text, c.charset), c.bytes);
    EXPECT_EQ(zqt::detail::CharsetToUtf16(c.bytes, c.charset), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Locale, CharsetRoundTrip,
    testing::Values(CharsetCase{"Latin1", "ISO-8859-1", u"caf\u00E9", "caf\xE9"},
                    CharsetCase{"Gb18030Han", "GB18030", u"\u4E2D\u6587", "\xD6\xD0\xCE\xC4"},
                    CharsetCase{"Gb18030Astral", "GB18030", u"\U0001F600", "\x94\x39\xFC\x36"},
                    CharsetCase{"Cp1252Euro", "CP1252", u"\u20AC", "\x80"},
                    CharsetCase{"ShiftJis", "SHIFT_JIS", u"\u65E5\u672C", "\x93\xFA\x96\x7B"},
                    CharsetCase{"Koi8r", "KOI8-R", u"\u043F\u0440\u0438\u0432\u0435\u0442",
                                "\xD0\xD2\xC9\xD7\xC5\xD4"},
                    CharsetCase{"KeepsNul", "ISO-8859-1", u"a\0\u00E9"s, "a\0\xE9"s},
                    CharsetCase{"Empty", "GB18030", u"", ""}),
    [](const auto& c) { return std::string(c.param.name); });

// Characters the charset lacks become "?", one per character.
class CharsetEncoding : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetEncoding, Encodes) {
    EXPECT_EQ(zqt::detail::Utf16ToCharset(GetParam().text, GetParam().charset), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Locale, CharsetEncoding,
    testing::Values(
        CharsetCase{"Latin1LacksEuro", "ISO-8859-1", u"a\u20ACb", "a?b"},
        CharsetCase{"Latin1LacksAstral", "ISO-8859-1", u"a\U0001F600b", "a?b"},
        CharsetCase{"LoneHighSurrogate", "ISO-8859-1", std::u16string{u'a', 0xD800, u'b'}, "a?b"},
        CharsetCase{"LoneLowSurrogateAtEnd", "ISO-8859-1", std::u16string{u'a', 0xDC00}, "a?"},
        // GB18030 has U+FFFD, so this shows the surrogate is not turned into it.
        CharsetCase{"Gb18030LoneSurrogate", "GB18030", std::u16string{0xDBFF, u'\u4E2D'},
                    "?\xD6\xD0"},
        CharsetCase{"AsciiLacksBoth", "ANSI_X3.4-1968", u"\u00E9\U0001F600z", "??z"},
        CharsetCase{"UnknownCharsetKeepsAscii", "NO-SUCH-CHARSET", u"a\u00E9\U0001F600", "a??"},
        CharsetCase{"Utf8LoneSurrogate", "UTF-8", std::u16string{u'a', 0xD800}, "a\xEF\xBF\xBD"}),
    [](const auto& c) { return std::string(c.param.name); });

// Each undecodable byte becomes U+FFFD and the text after it is kept.
class CharsetDecoding : public testing::TestWithParam<CharsetCase> {};

TEST_P(CharsetDecoding, Decodes) {
    EXPECT_EQ(zqt::detail::CharsetToUtf16(GetParam().bytes, GetParam().charset), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Locale, CharsetDecoding,
    testing::Values(
        CharsetCase{"Cp1252Unassigned", "CP1252", u"a\uFFFDb",
                    "a\x81"
                    "b"},
        CharsetCase{"Gb18030InvalidByte", "GB18030", u"a\uFFFDb",
                    "a\xFF"
                    "b"},
        CharsetCase{"Gb18030CutAtEnd", "GB18030", u"\u4E2D\uFFFD", "\xD6\xD0\xD6"},
        CharsetCase{"ShiftJisCutAtEnd", "SHIFT_JIS", u"x\uFFFD", "x\x93"},
        CharsetCase{"AsciiHighBytes", "ANSI_X3.4-1968", u"a\uFFFD\uFFFDz", "a\xE9\x80z"},
        CharsetCase{"UnknownCharset", "NO-SUCH-CHARSET", u"a\uFFFD", "a\xE9"},
        CharsetCase{"Utf8MaximalSubparts", "utf8", u"\uFFFDz\uFFFD\0"s, "\xE1\x80z\xFF\0"s}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(CharsetConversion, StatefulCharsetStaysInStepAroundReplacement) {
    const std::u16string text = u"a\u65E5\U0001F600\u672Cb";
    const std::string encoded = zqt::detail::Utf16ToCharset(text, "ISO-2022-JP");
    EXPECT_EQ(encoded.back(), 'b');  // back in ASCII at the end
    EXPECT_EQ(zqt::detail::CharsetToUtf16(encoded, "ISO-2022-JP"), u"a\u65E5?\u672Cb");
}

TEST(CharsetConversion, LongTextIsConvertedWhole) {
    std::u16string text;
    std::string bytes;
    for (int i = 0; i < 20000; ++i) {
        text += u"\u00E9x";
        bytes += "\xE9x";
    }
    EXPECT_EQ(zqt::detail::Utf16ToCharset(text, "ISO-8859-1"), bytes);
    EXPECT_EQ(zqt::detail::CharsetToUtf16(bytes, "ISO-8859-1"), text);
}

// The process locale decides the charset; each test restores it.
class LocaleConversion : public testing::Test {
  protected:
    void SetUp() override { m_saved = std::setlocale(LC_ALL, nullptr); }
    void TearDown() override {
        std::setlocale(LC_ALL, m_saved.c_str());
        unsetenv("LOCPATH");
    }

    // Uses a locale the test build made with localedef; false when it could not.
    bool UseGeneratedLocale(const std::string& source, const std::string& charmap) {
        const std::string name = source + "." + charmap;
        setenv("LOCPATH", ZQT_BUILT_LOCALES, 1);
        return std::setlocale(LC_ALL, name.c_str()) != nullptr;
    }

  private:
    std::string m_saved;
};

TEST_F(LocaleConversion, Utf8Locale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
    EXPECT_EQ(zqt::LocaleToUtf16("Gr\xC3\xBC\xC3\x9F\xFF!"), u"Gr\u00FC\u00DF\uFFFD!");
    EXPECT_EQ(zqt::Utf16ToLocale(u"\u20AC"), "\xE2\x82\xAC");
}

TEST_F(LocaleConversion, AsciiLocale) {
    ASSERT_NE(std::setlocale(LC_ALL, "C"), nullptr);
    EXPECT_EQ(zqt::Utf16ToLocale(u"a\u00E9\u20ACb"), "a??b");
    EXPECT_EQ(zqt::LocaleToUtf16("a\xE9z"), u"a\uFFFDz");
    EXPECT_EQ(zqt::LocaleToUtf16("abc"), u"abc");
}

TEST_F(LocaleConversion, Latin1Locale) {
    if (!UseGeneratedLocale("fr_FR", "ISO-8859-1")) {
        GTEST_SKIP() << "no ISO-8859-1 locale can be made here";
    }
    ASSERT_STREQ(nl_langinfo(CODESET), "ISO-8859-1");
    EXPECT_EQ(zqt::LocaleToUtf16("caf\xE9"), u"caf\u00E9");
    EXPECT_EQ(zqt::Utf16ToLocale(u"caf\u00E9 \u20AC"), "caf\xE9 ?");
}

TEST_F(LocaleConversion, Gb18030Locale) {
    if (!UseGeneratedLocale("zh_CN", "GB18030")) {
        GTEST_SKIP() << "no GB18030 locale can be made here";
    }
    ASSERT_STREQ(nl_langinfo(CODESET), "GB18030");
    EXPECT_EQ(zqt::LocaleToUtf16("\xD6\xD0\xFF\xCE\xC4"), u"\u4E2D\uFFFD\u6587");
    EXPECT_EQ(zqt::Utf16ToLocale(u"\u4E2D\u6587"), "\xD6\xD0\xCE\xC4");
}

}  // namespace
