#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "protocol/RunProcess.h"
#include "tests/protocol/CaseName.h"
#include "tests/protocol/ScriptedCommand.h"

namespace {

constexpr size_t kBound = kMaxStepsPerRequest;

static_assert(kMaxStepsPerRequest == 10000);

TEST(StepBound, EndsAChainOfTwoStepsThatLoopsForever) {
    Journal journal;
    const std::u16string loop =
        u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[a]Param2[ok]TrueNext[2]}"
        u"ProcessEntity-2{FunctionType[2]Param1[b]Param2[ok]TrueNext[1]}ProcessCallBackName{l}";
    // An even number of steps ends on step 2.
    EXPECT_EQ(RunProcess(loop, ScriptedFactory(journal)),
              u"FunctionType[2]FunctionRes[b]ProcessCallBackName[l]");
    ASSERT_EQ(journal.executed.size(), kBound);
    EXPECT_EQ(journal.executed.front(), 1);
    EXPECT_EQ(journal.executed.back(), 2);
    EXPECT_EQ(journal.bodies.size(), kBound);
    EXPECT_EQ(journal.live, 0);
}

TEST(StepBound, EndsAStepThatLeadsToItself) {
    Journal journal;
    const std::u16string loop =
        u"ProcessNum{1}ProcessEntity-1{FunctionType[8]Param1[r]TrueNext[1]FalseNext[1]}";
    EXPECT_EQ(RunProcess(loop, ScriptedFactory(journal)),
              u"FunctionType[8]FunctionRes[r]ProcessCallBackName[]");
    EXPECT_EQ(journal.executed.size(), kBound);
}

// Step 1 repeats itself while its budget of successes lasts, then goes to
// step 2 or to step 3, which the request lacks.
struct BoundCase {
    const char* name;
    int budget;
    int falseNext;
    std::u16string response;
    size_t executed;
    int32_t lastExecuted;
};

void PrintTo(const BoundCase& c, std::ostream* os) {
    *os << c.name;
}

class AroundTheBound : public testing::TestWithParam<BoundCase> {};

TEST_P(AroundTheBound, RunsAtMostTheBoundAndReportsTheLastStepThatRan) {
    const BoundCase& c = GetParam();
    Journal journal;
    journal.budget = c.budget;
    const std::u16string request =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[1]Param1[one]Param2[budget]TrueNext[1]"
        u"FalseNext[" +
        std::u16string(1, static_cast<char16_t>(u'0' + c.falseNext)) +
        u"]}ProcessEntity-2{FunctionType[2]Param1[two]}ProcessCallBackName{cb}";
    EXPECT_EQ(RunProcess(request, ScriptedFactory(journal)), c.response);
    ASSERT_EQ(journal.executed.size(), c.executed);
    EXPECT_EQ(journal.executed.back(), c.lastExecuted);
    EXPECT_EQ(journal.live, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AroundTheBound,
    testing::Values(
        // The chain's own end falls on the last step allowed.
        BoundCase{"EndsOnItsOwnAtTheBound", kMaxStepsPerRequest - 2, 2,
                  u"FunctionType[2]FunctionRes[two]ProcessCallBackName[cb]", kBound, 2},
        // The step after the bound would be step 2; it does not run.
        BoundCase{"NextStepWouldBeBeyondTheBound", kMaxStepsPerRequest - 1, 2,
                  u"FunctionType[1]FunctionRes[one]ProcessCallBackName[cb]", kBound, 1},
        BoundCase{"StillRepeatingAtTheBound", kMaxStepsPerRequest, 2,
                  u"FunctionType[1]FunctionRes[one]ProcessCallBackName[cb]", kBound, 1},
        // A missing step within the bound is reported as such...
        BoundCase{"MissingStepWithinTheBound", kMaxStepsPerRequest - 2, 3,
                  u"FunctionRes[-1]FunctionNotSucessAt[3]ProcessCallBackName[cb]", kBound - 1, 1},
        // ...but beyond it is never reached.
        BoundCase{"MissingStepBeyondTheBound", kMaxStepsPerRequest - 1, 3,
                  u"FunctionType[1]FunctionRes[one]ProcessCallBackName[cb]", kBound, 1}),
    CaseName<BoundCase>);

}  // namespace
