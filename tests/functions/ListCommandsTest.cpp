// The two list commands against the scripted side library with both exports:
// when they read, what they cache and what they answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CatalogueRows.h"
#include "RecordedControls.h"
#include "TestLibraries.h"
#include "protocol/RunProcess.h"

namespace {

constexpr int32_t kList = 401;
constexpr int32_t kXepa = 4011;

std::u16string Ask(int32_t functionType) {
    return RunProcess(SingleStepRequest(u"FunctionType[" + Wide(std::to_string(functionType)) +
                                        u"]Param1[ignored]"));
}

const std::vector<std::string> kOneListRead = {"GetCertAndSeallist 1 null",
                                               "GetCertAndSeallist 2 buffer"};
const std::vector<std::string> kOneXepaRead = {"GetCertAndSeallistXEPA 1 null",
                                               "GetCertAndSeallistXEPA 2 buffer"};

class ListCommandsTest : public RecordedControlsTest {
  protected:
    SideLibraryCallLog calls_;
    ScopedEnvironment list_{"ZQT_SIDELIB_LIST", "plain list"};
    ScopedEnvironment xepa_{"ZQT_SIDELIB_LIST_XEPA", "xepa list"};
};

TEST_F(ListCommandsTest, EmptyCacheIsReadOnceThenServedFromTheCache) {
    EXPECT_EQ(Ask(kList), Response(kList, u"plain list"));
    EXPECT_EQ(calls_.Lines(), kOneListRead);
    EXPECT_EQ(CachedList(), u"plain list");

    ScopedEnvironment changed("ZQT_SIDELIB_LIST", "another list");
    EXPECT_EQ(Ask(kList), Response(kList, u"plain list"));
    EXPECT_EQ(calls_.Lines(), kOneListRead);
}

TEST_F(ListCommandsTest, EmptyReadLeavesTheCacheEmptyAndIsTriedAgain) {
    {
        ScopedEnvironment empty("ZQT_SIDELIB_LIST", "");
        EXPECT_EQ(Ask(kList), Response(kList, u""));
        EXPECT_EQ(RunProcess(BranchRequest(u"FunctionType[401]")).rfind(u"FunctionType[53]", 0),
                  0u);
    }
    EXPECT_EQ(CachedList(), u"");
    EXPECT_EQ(Ask(kList), Response(kList, u"plain list"));
    EXPECT_EQ(calls_.Lines().size(), 6u);
}

TEST_F(ListCommandsTest, CachedListIsReturnedWithoutReading) {
    SetCachedList(u"x");
    EXPECT_EQ(Ask(kList), Response(kList, u"x"));
    EXPECT_TRUE(calls_.Lines().empty());
}

struct XepaCase {
    size_t cachedLength;
    bool reads;
};

class XepaCacheTest : public ListCommandsTest, public ::testing::WithParamInterface<XepaCase> {};

TEST_P(XepaCacheTest, ReadsAgainUpToFiftyCodeUnits) {
    const std::u16string cached(GetParam().cachedLength, u'c');
    SetCachedList(cached);
    const std::u16string expected = GetParam().reads ? u"xepa list" : cached;
    EXPECT_EQ(Ask(kXepa), Response(kXepa, expected));
    EXPECT_EQ(CachedList(), expected);
    EXPECT_EQ(calls_.Lines(), GetParam().reads ? kOneXepaRead : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Lengths, XepaCacheTest,
                         ::testing::Values(XepaCase{0, true}, XepaCase{1, true}, XepaCase{30, true},
                                           XepaCase{50, true}, XepaCase{51, false},
                                           XepaCase{500, false}),
                         [](const auto& testCase) {
                             return std::to_string(testCase.param.cachedLength);
                         });

TEST_F(ListCommandsTest, XepaLengthCountsCodeUnits) {
    // 25 characters outside the BMP are 50 code units: short enough to read again.
    std::u16string cached;
    for (int i = 0; i < 25; ++i) {
        cached += u"\U0001F600";
    }
    SetCachedList(cached);
    EXPECT_EQ(Ask(kXepa), Response(kXepa, u"xepa list"));
}

TEST_F(ListCommandsTest, XepaReplacesAShortCacheEvenWithTheEmptyText) {
    SetCachedList(std::u16string(30, u'c'));
    ScopedEnvironment empty("ZQT_SIDELIB_LIST_XEPA", "");
    EXPECT_EQ(Ask(kXepa), Response(kXepa, u""));
    EXPECT_EQ(CachedList(), u"");
}

TEST_F(ListCommandsTest, BothCommandsShareTheOneCache) {
    EXPECT_EQ(Ask(kXepa), Response(kXepa, u"xepa list"));
    EXPECT_EQ(Ask(kList), Response(kList, u"xepa list"));
    EXPECT_EQ(calls_.Lines(), kOneXepaRead);
}

TEST_F(ListCommandsTest, LongListCachedByOthersServesBothWithoutReading) {
    const std::u16string longList(51, u'w');
    SetCachedList(longList);
    EXPECT_EQ(Ask(kList), Response(kList, longList));
    EXPECT_EQ(Ask(kXepa), Response(kXepa, longList));
    EXPECT_TRUE(calls_.Lines().empty());
}

TEST_F(ListCommandsTest, NonAsciiListIsReadInTheLocaleCharacterSet) {
    ScopedEnvironment utf8("ZQT_SIDELIB_LIST", "\xE5\x8D\xB0 seal");
    EXPECT_EQ(Ask(kList), Response(kList, u"\u5370 seal"));
}

}  // namespace
