// How step-body items become control arguments: numbers through ValueToInt,
// texts unchanged, missing items as empty texts and zeros.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CatalogueRows.h"
#include "RecordedControls.h"
#include "TestLibraries.h"
#include "protocol/RunProcess.h"

namespace {

struct ParameterCase {
    const char* what;
    std::u16string stepBody;
    int32_t dispid;
    std::vector<RecordedArg> args;
};

void PrintTo(const ParameterCase& c, std::ostream* os) {
    *os << c.what;
}

class ParameterTest : public RecordedControlsTest,
                      public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(ParameterTest, ReachesTheControlAsWritten) {
    RunProcess(SingleStepRequest(GetParam().stepBody));
    const std::vector<RecordedCall> calls = Main().Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dispid, GetParam().dispid);
    EXPECT_EQ(calls[0].args, GetParam().args);
}

const std::u16string kSixTexts = u"Param1[a]Param2[b]Param3[c]Param4[d]Param5[e]Param6[f]";

INSTANTIATE_TEST_SUITE_P(
    Cases, ParameterTest,
    ::testing::Values(
        ParameterCase{"GenRandom32", u"FunctionType[16]Param1[32]", 16, {I4(32)}},
        ParameterCase{"GenRandomNegative", u"FunctionType[16]Param1[-8]", 16, {I4(-8)}},
        ParameterCase{"GenRandomLeadingBlank", u"FunctionType[16]Param1[ 8]", 16, {I4(8)}},
        ParameterCase{"GenRandomTrailingText", u"FunctionType[16]Param1[12abc]", 16, {I4(12)}},
        ParameterCase{"GenRandomNotANumber", u"FunctionType[16]Param1[x]", 16, {I4(0)}},
        ParameterCase{"GenRandomMissing", u"FunctionType[16]", 16, {I4(0)}},
        ParameterCase{
            "GenRandomExBeyondRange", u"FunctionType[44]Param1[99999999999]", 44, {I4(2147483647)}},
        ParameterCase{"SetCertChooseTypeNotANumber", u"FunctionType[1]Param1[abc]", 1, {I4(0)}},
        ParameterCase{"GetCertInfoNumberThenText",
                      u"FunctionType[3]Param1[1]Param2[x]",
                      3,
                      {I4(1), Bstr(u"x")}},
        ParameterCase{"BmpMinusOneIsAllBitsUnsigned",
                      u"FunctionType[34]Param1[s]Param2[-1]",
                      33,
                      {Bstr(u"s"), Ui4(4294967295u)}},
        ParameterCase{
            "BmpMissingNumberIsZero", u"FunctionType[34]Param1[s]", 33, {Bstr(u"s"), Ui4(0)}},
        ParameterCase{"ReadSealByTypeMinusOneStaysSigned",
                      u"FunctionType[208]Param1[s]Param2[-1]",
                      190,
                      {Bstr(u"s"), I4(-1)}},
        ParameterCase{"WriteSealByTypeNumberLast",
                      u"FunctionType[207]Param1[a]Param2[b]Param3[-7]",
                      189,
                      {Bstr(u"a"), Bstr(u"b"), I4(-7)}},
        ParameterCase{"SignhashFixedTwoInTheMiddle",
                      u"FunctionType[128]Param1[x]Param2[y]Param3[9]",
                      128,
                      {Bstr(u"x"), I4(2), Bstr(u"y")}},
        ParameterCase{
            "OnlySecondItemGiven", u"FunctionType[10]Param2[x]", 10, {Bstr(u""), Bstr(u"x")}},
        ParameterCase{"VerifyWithoutItemsPassesEmptyTexts",
                      u"FunctionType[11]",
                      11,
                      {Bstr(u""), Bstr(u""), Bstr(u"")}},
        ParameterCase{"BlanksAndBracketsKept",
                      u"FunctionType[10]Param1[ a[b ]Param2[{c]",
                      10,
                      {Bstr(u" a[b "), Bstr(u"{c")}},
        ParameterCase{"KeysInAnyOrder",
                      u"Param2[two]FunctionType[10]Param1[one]",
                      10,
                      {Bstr(u"one"), Bstr(u"two")}},
        ParameterCase{
            "SetCertExWithoutSeventh",
            u"FunctionType[2]" + kSixTexts,
            2,
            {Bstr(u"a"), Bstr(u"b"), Bstr(u"c"), Bstr(u"d"), Bstr(u"e"), Bstr(u"f"), Bstr(u"")}},
        ParameterCase{"SetCertNeverReadsSeventh",
                      u"FunctionType[5]" + kSixTexts + u"Param7[g]",
                      5,
                      {Bstr(u"a"), Bstr(u"b"), Bstr(u"c"), Bstr(u"d"), Bstr(u"e"), Bstr(u"f")}},
        ParameterCase{"NoParametersIgnoresItems", u"FunctionType[154]Param1[a]Param2[b]", 196, {}}),
    [](const auto& testCase) { return std::string(testCase.param.what); });

TEST_F(RecordedControlsTest, ReturnedTextOfAnyLengthIsTheResultUnchanged) {
    std::u16string text(100000, u'r');
    text += u"]\u00e9\U0001F600";
    Main().Script(10, 0, 0, text);
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[10]")), Response(10, text));
}

}  // namespace
