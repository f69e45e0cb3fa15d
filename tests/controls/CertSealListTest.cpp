// Reads of the certificate-and-seal list from the scripted side library with
// both exports (LD_LIBRARY_PATH=lib/sidelib-both).
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "TestLibraries.h"
#include "controls/CertSealList.h"

namespace {

using Read = std::u16string (*)();

class CertSealListTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }

    SideLibraryCallLog calls_;
};

TEST_F(CertSealListTest, EachExportServesItsOwnList) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "plain list");
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", "xepa list");
    EXPECT_EQ(ReadCertAndSealList(), u"plain list");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"xepa list");
    EXPECT_EQ(calls_.Lines(),
              (std::vector<std::string>{"GetCertAndSeallist 1 null", "GetCertAndSeallist 2 buffer",
                                        "GetCertAndSeallistXEPA 1 null",
                                        "GetCertAndSeallistXEPA 2 buffer"}));
}

class ListLengthTest : public CertSealListTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(ListLengthTest, ListAnnouncedAsNBytesYieldsNMinusOneCodeUnits) {
    std::string bytes;
    for (size_t i = 0; i < GetParam(); ++i) {
        bytes.push_back(static_cast<char>('!' + i % 90));
    }
    ScopedEnvironment list("ZQT_SIDELIB_LIST", bytes);
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", bytes);
    const std::u16string expected(bytes.begin(), bytes.end());
    EXPECT_EQ(ReadCertAndSealList(), expected);
    EXPECT_EQ(ReadCertAndSealListXEPA(), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, ListLengthTest,
                         ::testing::Values(size_t{1}, size_t{2}, size_t{50}, size_t{51},
                                           size_t{4096}, size_t{100000}));

struct OddAnswer {
    const char* mode;
    size_t expectedCalls;
};

void PrintTo(const OddAnswer& c, std::ostream* os) {
    *os << c.mode;
}

class OddAnswerTest : public CertSealListTest, public ::testing::WithParamInterface<OddAnswer> {};

TEST_P(OddAnswerTest, GivesTheEmptyTextWithoutTrustingTheSize) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "some list");
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", "some list");
    ScopedEnvironment mode("ZQT_SIDELIB_MODE", GetParam().mode);
    EXPECT_EQ(ReadCertAndSealList(), u"");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"");
    EXPECT_EQ(calls_.Lines().size(), 2 * GetParam().expectedCalls);
}

INSTANTIATE_TEST_SUITE_P(Modes, OddAnswerTest,
                         ::testing::Values(OddAnswer{"zero", 1}, OddAnswer{"negative", 1},
                                           OddAnswer{"huge", 1}, OddAnswer{"unterminated", 2}),
                         [](const auto& testCase) { return std::string(testCase.param.mode); });

TEST_F(CertSealListTest, EmptyListIsTheEmptyText) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "");
    EXPECT_EQ(ReadCertAndSealList(), u"");
    EXPECT_EQ(calls_.Lines().size(), 2u);
}

TEST_F(CertSealListTest, TextEndsAtItsFirstNul) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "hex:41420043");
    EXPECT_EQ(ReadCertAndSealList(), u"AB");
}

TEST_F(CertSealListTest, EveryReadLoadsAndUnloadsTheLibrary) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "abc");
    EXPECT_EQ(ReadCertAndSealList(), u"abc");
    EXPECT_FALSE(IsLoaded("libULVO_LIB_client.so"));
    EXPECT_EQ(ReadCertAndSealList(), u"abc");
    EXPECT_FALSE(IsLoaded("libULVO_LIB_client.so"));
    // The library counts calls since it was loaded, so a kept copy would say 3 and 4.
    EXPECT_EQ(calls_.Lines(), (std::vector<std::string>{
                                  "GetCertAndSeallist 1 null", "GetCertAndSeallist 2 buffer",
                                  "GetCertAndSeallist 1 null", "GetCertAndSeallist 2 buffer"}));
}

// Sets the cached list for one test and empties it again afterwards.
class ScopedCachedList {
  public:
    explicit ScopedCachedList(std::u16string text) { Set(std::move(text)); }
    ~ScopedCachedList() { Set(u""); }
    ScopedCachedList(const ScopedCachedList&) = delete;
    ScopedCachedList& operator=(const ScopedCachedList&) = delete;

  private:
    static void Set(std::u16string text) {
        std::lock_guard lock(TheCertSealListCache().listLock);
        TheCertSealListCache().text = std::move(text);
    }
};

TEST_F(CertSealListTest, ReadsLeaveTheCacheAlone) {
    ScopedCachedList cached(u"cached before");
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "abc");
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", "abc");
    EXPECT_EQ(ReadCertAndSealList(), u"abc");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"abc");
    EXPECT_EQ(TheCertSealListCache().text, u"cached before");
}

TEST(CertSealListCacheTest, OneProcessWideCacheThatStartsEmpty) {
    EXPECT_EQ(TheCertSealListCache().text, u"");
    CertSealListCache* first = &TheCertSealListCache();
    ScopedCachedList cached(u"cached");
    EXPECT_EQ(&TheCertSealListCache(), first);
    EXPECT_EQ(first->text, u"cached");
}

struct LocaleCase {
    const char* name;
    const char* locale;
    const char* bytes;
    std::u16string expected;
};

void PrintTo(const LocaleCase& c, std::ostream* os) {
    *os << c.name;
}

class ListCharsetTest : public CertSealListTest,
                        public ::testing::WithParamInterface<LocaleCase> {};

// The test build makes zh_CN.GBK in ZQT_TEST_LOCALE_DIR when localedef is there;
// setlocale reads LOCPATH on every call.
TEST_P(ListCharsetTest, ListIsDecodedByTheLocaleCharset) {
    const LocaleCase& c = GetParam();
    ScopedEnvironment localePath("LOCPATH", ZQT_TEST_LOCALE_DIR);
    if (std::setlocale(LC_ALL, c.locale) == nullptr) {
        GTEST_SKIP() << "locale " << c.locale << " is not available";
    }
    ScopedEnvironment list("ZQT_SIDELIB_LIST", c.bytes);
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", c.bytes);
    EXPECT_EQ(ReadCertAndSealList(), c.expected);
    EXPECT_EQ(ReadCertAndSealListXEPA(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, ListCharsetTest,
    ::testing::Values(
        // "中文" in GBK; read as UTF-8 these bytes would be invalid.
        LocaleCase{"GbkText", "zh_CN.GBK", "hex:d6d0cec4", u"\u4E2D\u6587"},
        // "中" in UTF-8 is one GBK character and one stray byte.
        LocaleCase{"Utf8BytesUnderGbk", "zh_CN.GBK", "hex:e4b8ad", u"\u6D93\uFFFD"},
        LocaleCase{"Utf8Text", "C.UTF-8", "hex:e4b8ade69687", u"\u4E2D\u6587"},
        LocaleCase{"GbkBytesUnderUtf8", "C.UTF-8", "hex:d6d0cec4", u"\uFFFD\uFFFD\uFFFD\uFFFD"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

struct ErrorCase {
    const char* name;
    std::string message;
    std::string shown;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class ListReadErrorTest : public CertSealListTest,
                          public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ListReadErrorTest, ErrorDuringReadIsReportedAndGivesTheEmptyText) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "abc");
    ScopedEnvironment mode("ZQT_SIDELIB_MODE", "throw");
    ScopedEnvironment error("ZQT_SIDELIB_ERROR", GetParam().message);
    ::testing::internal::CaptureStderr();
    std::u16string text = ReadCertAndSealList();
    std::string reported = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, u"");
    // One error line of the log, ending in the message box's text.
    const std::string tail = ": 有异常" + GetParam().shown + "\n";
    ASSERT_GE(reported.size(), tail.size());
    EXPECT_EQ(reported.substr(reported.size() - tail.size()), tail);
    EXPECT_NE(reported.find(" error ListReadError:"), std::string::npos) << reported;
    EXPECT_EQ(reported.find('\n'), reported.size() - 1);
    EXPECT_FALSE(IsLoaded("libULVO_LIB_client.so"));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ListReadErrorTest,
    ::testing::Values(ErrorCase{"Short", "out of memory", "out of memory"},
                      ErrorCase{"Long", std::string(2000, 'e'), std::string(1023, 'e')},
                      ErrorCase{"CutBeforeASplitCharacter", std::string(1022, 'e') + "中",
                                std::string(1022, 'e')},
                      ErrorCase{"ExactlyTheLimit", std::string(1020, 'e') + "中",
                                std::string(1020, 'e') + "中"}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

}  // namespace
