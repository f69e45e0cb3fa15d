// GetSealData and GetSealIndata hand the control the UTF-8 text whose Base64
// form Param1 holds, after a round trip through the locale character set.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "CatalogueRows.h"
#include "RecordedControls.h"
#include "TestLibraries.h"
#include "protocol/RunProcess.h"

namespace {

struct SealCase {
    const char* what;
    const char* locale;
    std::u16string param1;  // the item's whole value
    std::u16string passed;
};

void PrintTo(const SealCase& c, std::ostream* os) {
    *os << c.what;
}

class SealDecodingTest : public RecordedControlsTest,
                         public ::testing::WithParamInterface<std::tuple<int32_t, SealCase>> {};

TEST_P(SealDecodingTest, PassesTheDecodedText) {
    const auto& [functionType, c] = GetParam();
    ASSERT_NE(std::setlocale(LC_ALL, c.locale), nullptr);
    const int32_t dispid = functionType == 202 ? 149 : 148;
    Main().Script(dispid, 0, 0, u"seal");
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[" + Wide(std::to_string(functionType)) +
                                           u"]Param1[" + c.param1 + u"]")),
              Response(functionType, u"seal"));
    const std::vector<RecordedCall> calls = Main().Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dispid, dispid);
    EXPECT_EQ(calls[0].resultVt, ZQT_VT_BSTR);
    EXPECT_EQ(calls[0].args, std::vector<RecordedArg>{Bstr(c.passed)});
}

const std::string kNonAscii = "\xE5\x8D\xB0\xE7\xAB\xA0 \xC3\xBC \xF0\x9F\x98\x80";  // 印章 ü 😀

INSTANTIATE_TEST_SUITE_P(
    Cases, SealDecodingTest,
    ::testing::Combine(
        ::testing::Values(201, 202),
        ::testing::Values(
            SealCase{"Abc", "C.UTF-8", Wide(Base64("abc")), u"abc"},
            SealCase{"Empty", "C.UTF-8", u"", u""},
            SealCase{"NonAsciiRoundTrips", "C.UTF-8", Wide(Base64(kNonAscii)),
                     u"\u5370\u7ae0 \u00fc \U0001F600"},
            SealCase{"EndsAtZeroByte", "C.UTF-8", Wide(Base64(std::string("ab\0cd", 5))), u"ab"},
            SealCase{"StartsWithZeroByte", "C.UTF-8", Wide(Base64(std::string("\0ab", 3))), u""},
            SealCase{"LineBreaksSkipped", "C.UTF-8", u"YW\nJj", u"abc"},
            SealCase{"InvalidUtf8BecomesReplacement", "C.UTF-8",
                     Wide(Base64("a\xFF"
                                 "b")),
                     u"a\uFFFDb"},
            SealCase{"AsciiLocaleLacksNonAscii", "C", Wide(Base64("a\xC3\xBC")), u"a?"})),
    [](const auto& testCase) {
        return std::to_string(std::get<0>(testCase.param)) + "_" + std::get<1>(testCase.param).what;
    });

TEST_F(RecordedControlsTest, SealDataWithoutParam1PassesTheEmptyText) {
    RunProcess(SingleStepRequest(u"FunctionType[202]"));
    const std::vector<RecordedCall> calls = Main().Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, std::vector<RecordedArg>{Bstr(u"")});
}

}  // namespace
