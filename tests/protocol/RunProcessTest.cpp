#include "protocol/RunProcess.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/protocol/CaseName.h"
#include "tests/protocol/ScriptedCommand.h"

namespace {

class RunProcessTest : public testing::Test {
  protected:
    std::u16string Run(const std::u16string& request) {
        return RunProcess(request, ScriptedFactory(journal), &summary);
    }
    Journal journal;
    RunSummary summary;
};

struct ChainCase {
    const char* name;
    std::u16string request;
    std::u16string response;
    std::vector<int32_t> executed;
    int budget = 0;
};

void PrintTo(const ChainCase& c, std::ostream* os) {
    *os << c.name;
}

class Chains : public RunProcessTest, public testing::WithParamInterface<ChainCase> {};

TEST_P(Chains, ReportTheLastStepThatRan) {
    journal.budget = GetParam().budget;
    EXPECT_EQ(Run(GetParam().request), GetParam().response);
    EXPECT_EQ(journal.executed, GetParam().executed);
    EXPECT_EQ(journal.live, 0);
    // The audit's list is exactly the steps that ran.
    EXPECT_EQ(summary.functionTypes, GetParam().executed);
}

// No usable step count: no command is asked for.
INSTANTIATE_TEST_SUITE_P(
    NoStepCount, Chains,
    testing::Values(ChainCase{"Missing",
                              u"ProcessEntity-1{FunctionType[1]}ProcessCallBackName{cb}",
                              u"FunctionRes[-1]ProcessCallBackName[cb]",
                              {}},
                    ChainCase{"Empty",
                              u"ProcessNum{}ProcessEntity-1{FunctionType[1]}",
                              u"FunctionRes[-1]ProcessCallBackName[]",
                              {}},
                    ChainCase{"Zero",
                              u"ProcessNum{0}ProcessEntity-1{FunctionType[1]}",
                              u"FunctionRes[-1]ProcessCallBackName[]",
                              {}},
                    ChainCase{"Negative",
                              u"ProcessNum{-2}ProcessEntity-1{FunctionType[1]}",
                              u"FunctionRes[-1]ProcessCallBackName[]",
                              {}},
                    ChainCase{"Text",
                              u"ProcessNum{abc}ProcessEntity-1{FunctionType[1]}",
                              u"FunctionRes[-1]ProcessCallBackName[]",
                              {}},
                    ChainCase{"BracketNotBrace",
                              u"ProcessNum[1]ProcessEntity-1{FunctionType[1]}",
                              u"FunctionRes[-1]ProcessCallBackName[]",
                              {}},
                    ChainCase{"EmptyRequest", u"", u"FunctionRes[-1]ProcessCallBackName[]", {}}),
    CaseName<ChainCase>);

// No command for a step: whatever ran before is not reported.
INSTANTIATE_TEST_SUITE_P(
    NoCommand, Chains,
    testing::Values(
        ChainCase{"MissingFirstStep",
                  u"ProcessNum{1}ProcessCallBackName{cb}",
                  u"FunctionRes[-1]FunctionNotSucessAt[1]ProcessCallBackName[cb]",
                  {}},
        ChainCase{"NoFunctionType",
                  u"ProcessNum{1}ProcessEntity-1{Param1[x]}",
                  u"FunctionRes[-1]FunctionNotSucessAt[1]ProcessCallBackName[]",
                  {}},
        ChainCase{"UnknownAtStepTwo",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[r]Param2[ok]TrueNext[2]}"
                  u"ProcessEntity-2{FunctionType[999]}ProcessCallBackName{cb}",
                  u"FunctionRes[-1]FunctionNotSucessAt[2]ProcessCallBackName[cb]",
                  {1}},
        ChainCase{"MissingStepThree",
                  u"ProcessNum{3}ProcessEntity-1{FunctionType[1]FalseNext[3]}",
                  u"FunctionRes[-1]FunctionNotSucessAt[3]ProcessCallBackName[]",
                  {1}}),
    CaseName<ChainCase>);

INSTANTIATE_TEST_SUITE_P(
    Normal, Chains,
    testing::Values(
        ChainCase{"OneStep",
                  u"ProcessNum{1}ProcessEntity-1{FunctionType[4]Param1[0]Param2[ok]}"
                  u"ProcessCallBackName{onDone}",
                  u"FunctionType[4]FunctionRes[0]ProcessCallBackName[onDone]",
                  {4}},
        ChainCase{"EmptyResult",
                  u"ProcessNum{1}ProcessEntity-1{FunctionType[4]}",
                  u"FunctionType[4]FunctionRes[]ProcessCallBackName[]",
                  {4}},
        ChainCase{"StepCountWithBlanksAndText",
                  u"ProcessNum{ 2x}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]Param1[two]}",
                  u"FunctionType[2]FunctionRes[two]ProcessCallBackName[]",
                  {1, 2}},
        ChainCase{"BothSucceed",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[0]Param2[ok]TrueNext[2]"
                  u"FalseNext[0]}ProcessEntity-2{FunctionType[4]Param1[0]Param2[ok]}"
                  u"ProcessCallBackName{onDone}",
                  u"FunctionType[4]FunctionRes[0]ProcessCallBackName[onDone]",
                  {1, 4}},
        ChainCase{"FirstFailsFalseNextZero",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[5]TrueNext[2]"
                  u"FalseNext[0]}ProcessEntity-2{FunctionType[4]}ProcessCallBackName{onDone}",
                  u"FunctionType[1]FunctionRes[5]ProcessCallBackName[onDone]",
                  {1}},
        ChainCase{"FailureFollowsFalseNext",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]TrueNext[0]FalseNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]Param1[f]}",
                  u"FunctionType[2]FunctionRes[f]ProcessCallBackName[]",
                  {1, 2}},
        ChainCase{"SkipsAhead",
                  u"ProcessNum{3}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[3]}"
                  u"ProcessEntity-2{FunctionType[2]Param2[ok]}ProcessEntity-3{FunctionType[3]"
                  u"Param1[r3]Param2[ok]}",
                  u"FunctionType[3]FunctionRes[r3]ProcessCallBackName[]",
                  {1, 3}},
        ChainCase{"Backwards",
                  u"ProcessNum{3}ProcessEntity-1{FunctionType[1]FalseNext[3]}"
                  u"ProcessEntity-3{FunctionType[3]FalseNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]Param1[end]}",
                  u"FunctionType[2]FunctionRes[end]ProcessCallBackName[]",
                  {1, 3, 2}},
        ChainCase{"RevisitsAStep",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[budget]TrueNext[2]"
                  u"FalseNext[0]Param1[one]}ProcessEntity-2{FunctionType[2]TrueNext[0]"
                  u"FalseNext[1]}",
                  u"FunctionType[1]FunctionRes[one]ProcessCallBackName[]",
                  {1, 2, 1},
                  1},
        ChainCase{"NextWithBlankAndText",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[ 2abc]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[2]FunctionRes[]ProcessCallBackName[]",
                  {1, 2}},
        ChainCase{"HugeStepCount",
                  u"ProcessNum{99999999999}ProcessEntity-1{FunctionType[1]Param2[ok]"
                  u"TrueNext[2147483647]}ProcessEntity-2147483647{FunctionType[7]Param1[far]}",
                  u"FunctionType[7]FunctionRes[far]ProcessCallBackName[]",
                  {1, 7}}),
    CaseName<ChainCase>);

// A missing, empty, non-numeric or out-of-range next step ends the chain.
INSTANTIATE_TEST_SUITE_P(
    EndOfChain, Chains,
    testing::Values(
        ChainCase{"TrueNextMissing",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]FalseNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"FalseNextMissing",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]TrueNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"TrueNextEmpty",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"FalseNextEmpty",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]FalseNext[]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"TrueNextNotANumber",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[x]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"TrueNextZero",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[0]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"FalseNextNegative",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]FalseNext[-1]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ChainCase{"NextBeyondCount",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[a]Param2[ok]TrueNext[3]}"
                  u"ProcessEntity-3{FunctionType[3]}",
                  u"FunctionType[1]FunctionRes[a]ProcessCallBackName[]",
                  {1}},
        ChainCase{"NextIsTheCount",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]Param1[last]}",
                  u"FunctionType[2]FunctionRes[last]ProcessCallBackName[]",
                  {1, 2}}),
    CaseName<ChainCase>);

TEST_F(RunProcessTest, EachStepBodyIsReadAfreshFromTheWholeRequest) {
    const std::u16string step1 = u"FunctionType[1]Param2[budget]TrueNext[2]";
    const std::u16string step2 = u"FunctionType[2]FalseNext[1]";
    const std::u16string request = u"ProcessEntity-2{" + step2 +
                                   u"}ProcessNum{2}ProcessEntity-12{FunctionType[12]}"
                                   u"ProcessEntity-1{" +
                                   step1 + u"}";
    // Step 1 succeeds once, step 2 fails back to step 1, which then fails
    // without a FalseNext.
    journal.budget = 1;
    EXPECT_EQ(Run(request), u"FunctionType[1]FunctionRes[]ProcessCallBackName[]");
    EXPECT_EQ(journal.bodies, (std::vector<std::u16string>{step1, step2, step1}));
}

TEST_F(RunProcessTest, OneCommandAliveAtATime) {
    const std::u16string request =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[2]}"
        u"ProcessEntity-2{FunctionType[2]Param3[throw]FalseNext[3]}"
        u"ProcessEntity-3{FunctionType[3]}";
    Run(request);
    EXPECT_EQ(journal.executed, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(journal.mostLive, 1);
    EXPECT_EQ(journal.live, 0);
}

TEST_F(RunProcessTest, ReportsTheNumberTheCommandGives) {
    EXPECT_EQ(Run(u"ProcessNum{1}ProcessEntity-1{FunctionType[151]Reports[206]Param1[r]}"),
              u"FunctionType[206]FunctionRes[r]ProcessCallBackName[]");
}

TEST_F(RunProcessTest, ThrowingCommandWithoutItsFlagFollowsFalseNext) {
    const std::u16string request =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[5]Param3[throw]TrueNext[2]FalseNext[3]}"
        u"ProcessEntity-2{FunctionType[2]}ProcessEntity-3{FunctionType[3]Param1[f]}";
    EXPECT_EQ(Run(request), u"FunctionType[3]FunctionRes[f]ProcessCallBackName[]");
    EXPECT_EQ(journal.executed, (std::vector<int32_t>{5, 3}));
    EXPECT_EQ(journal.live, 0);
}

TEST_F(RunProcessTest, ThrowingCommandWithItsFlagFollowsTrueNext) {
    const std::u16string request =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[5]Param2[ok]Param3[throw]TrueNext[2]"
        u"FalseNext[3]}ProcessEntity-2{FunctionType[2]Param1[t]}ProcessEntity-3{FunctionType[3]}";
    EXPECT_EQ(Run(request), u"FunctionType[2]FunctionRes[t]ProcessCallBackName[]");
    EXPECT_EQ(journal.executed, (std::vector<int32_t>{5, 2}));
    EXPECT_EQ(journal.live, 0);
}

TEST_F(RunProcessTest, ThrowingLastStepReportsMinusOneNotWhatItWrote) {
    EXPECT_EQ(Run(u"ProcessNum{1}ProcessEntity-1{FunctionType[5]Param1[x]Param3[throw]}"
                  u"ProcessCallBackName{cb}"),
              u"FunctionType[5]FunctionRes[-1]ProcessCallBackName[cb]");
    EXPECT_EQ(journal.live, 0);
}

TEST_F(RunProcessTest, NonAsciiTextsPassUnchanged) {
    EXPECT_EQ(Run(u"ProcessNum{1}ProcessEntity-1{FunctionType[7]Param1[签名😀{x]}"
                  u"ProcessCallBackName{回调}"),
              u"FunctionType[7]FunctionRes[签名😀{x]ProcessCallBackName[回调]");
}

TEST_F(RunProcessTest, LoneSurrogatesPassUnchanged) {
    const std::u16string high(1, char16_t{0xD83D});
    const std::u16string low(1, char16_t{0xDE00});
    const std::u16string request = u"ProcessNum{1}ProcessEntity-1{FunctionType[7]Param1[" + high +
                                   u"a" + low + u"]}ProcessCallBackName{" + low + high + u"}";
    EXPECT_EQ(Run(request), u"FunctionType[7]FunctionRes[" + high + u"a" + low +
                                u"]ProcessCallBackName[" + low + high + u"]");
}

// A result text is written as it is, even when it holds the closing bracket.
class FixedResult : public EumFunction {
  public:
    void SetParams(std::u16string) override {}
    void Execute(std::u16string& result) override { result = u"a]b[c}"; }
};

TEST(RunProcessResult, IsWrittenUnescaped) {
    auto factory = [](const std::u16string&) -> std::unique_ptr<EumFunction> {
        auto command = std::make_unique<FixedResult>();
        command->functionType = 3;
        return command;
    };
    EXPECT_EQ(RunProcess(u"ProcessNum{1}ProcessCallBackName{c]b}", factory),
              u"FunctionType[3]FunctionRes[a]b[c}]ProcessCallBackName[c]b]");
}

// Whether the chain succeeded is the last step's flag, whatever came before.
TEST_F(RunProcessTest, SummarySaysWhetherTheLastStepSucceeded) {
    Run(u"ProcessNum{2}ProcessEntity-1{FunctionType[5]Param2[ok]TrueNext[2]}"
        u"ProcessEntity-2{FunctionType[6]}");
    EXPECT_EQ(summary.functionTypes, (std::vector<int32_t>{5, 6}));
    EXPECT_FALSE(summary.succeeded);

    Run(u"ProcessNum{2}ProcessEntity-1{FunctionType[5]FalseNext[2]}"
        u"ProcessEntity-2{FunctionType[6]Param2[ok]}");
    EXPECT_EQ(summary.functionTypes, (std::vector<int32_t>{5, 6}));
    EXPECT_TRUE(summary.succeeded);

    // An unknown command ends the chain as a failure, and the summary is
    // fresh for each run.
    Run(u"ProcessNum{2}ProcessEntity-1{FunctionType[5]Param2[ok]TrueNext[2]}"
        u"ProcessEntity-2{FunctionType[999]}");
    EXPECT_EQ(summary.functionTypes, (std::vector<int32_t>{5}));
    EXPECT_FALSE(summary.succeeded);

    Run(u"ProcessNum{0}");
    EXPECT_TRUE(summary.functionTypes.empty());
    EXPECT_FALSE(summary.succeeded);
}

}  // namespace
