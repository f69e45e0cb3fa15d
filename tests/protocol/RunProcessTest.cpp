#include "protocol/RunProcess.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/TaggedText.h"

namespace {

// A command of the tests' own: FunctionType[n] gives number n; Param1 is its
// result text, Param2 "ok" makes it succeed, Param3 "throw" makes it throw
// (after setting its flag when Param2 is "ok").
class ScriptedCommand : public EumFunction {
  public:
    explicit ScriptedCommand(std::vector<int32_t>& log) : log_(log) {}
    void SetParams(std::u16string body) override {
        result_ = ExtractBracketValue(u"Param1", body);
        ok_ = ExtractBracketValue(u"Param2", body) == u"ok";
        throws_ = ExtractBracketValue(u"Param3", body) == u"throw";
    }
    void Execute(std::u16string& result) override {
        log_.push_back(functionType);
        succeeded = ok_;
        if (throws_) {
            result = u"partial";
            throw std::runtime_error("control failed");
        }
        result = result_;
    }

  private:
    std::vector<int32_t>& log_;
    std::u16string result_;
    bool ok_ = false;
    bool throws_ = false;
};

class RunProcessTest : public testing::Test {
  protected:
    std::u16string Run(const std::u16string& request) {
        return RunProcess(request, [this](const std::u16string& body) {
            std::unique_ptr<EumFunction> command;
            int32_t number = ValueToInt(ExtractBracketValue(u"FunctionType", body));
            if (number > 0 && number != 999) {
                command = std::make_unique<ScriptedCommand>(ran);
                command->functionType = number;
                command->SetParams(body);
            }
            return command;
        });
    }
    std::vector<int32_t> ran;
};

struct ShapeCase {
    const char* name;
    std::u16string request;
    std::u16string response;
    std::vector<int32_t> ran;
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.name;
}

class ResponseShapes : public RunProcessTest, public testing::WithParamInterface<ShapeCase> {};

TEST_P(ResponseShapes, ReportTheLastStep) {
    EXPECT_EQ(Run(GetParam().request), GetParam().response);
    EXPECT_EQ(ran, GetParam().ran);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ResponseShapes,
    testing::Values(
        ShapeCase{"NoProcessNum",
                  u"ProcessEntity-1{FunctionType[1]}ProcessCallBackName{cb}",
                  u"FunctionRes[-1]ProcessCallBackName[cb]",
                  {}},
        ShapeCase{"ZeroProcessNum",
                  u"ProcessNum{0}ProcessEntity-1{FunctionType[1]}",
                  u"FunctionRes[-1]ProcessCallBackName[]",
                  {}},
        ShapeCase{"NegativeProcessNum",
                  u"ProcessNum{-2}ProcessEntity-1{FunctionType[1]}",
                  u"FunctionRes[-1]ProcessCallBackName[]",
                  {}},
        ShapeCase{"TextProcessNum",
                  u"ProcessNum{abc}ProcessEntity-1{FunctionType[1]}",
                  u"FunctionRes[-1]ProcessCallBackName[]",
                  {}},
        ShapeCase{"EmptyRequest", u"", u"FunctionRes[-1]ProcessCallBackName[]", {}},
        ShapeCase{"OneStep",
                  u"ProcessNum{1}ProcessEntity-1{FunctionType[4]Param1[0]Param2[ok]}"
                  u"ProcessCallBackName{onDone}",
                  u"FunctionType[4]FunctionRes[0]ProcessCallBackName[onDone]",
                  {4}},
        ShapeCase{"TwoStepsBothSucceed",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[0]Param2[ok]TrueNext[2]"
                  u"FalseNext[0]}ProcessEntity-2{FunctionType[4]Param1[0]Param2[ok]}"
                  u"ProcessCallBackName{onDone}",
                  u"FunctionType[4]FunctionRes[0]ProcessCallBackName[onDone]",
                  {1, 4}},
        ShapeCase{"FirstFailsWithFalseNextZero",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[5]TrueNext[2]"
                  u"FalseNext[0]}ProcessEntity-2{FunctionType[4]}ProcessCallBackName{onDone}",
                  u"FunctionType[1]FunctionRes[5]ProcessCallBackName[onDone]",
                  {1}},
        ShapeCase{"SkipsToStepThree",
                  u"ProcessNum{3}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[3]}"
                  u"ProcessEntity-2{FunctionType[2]Param2[ok]}ProcessEntity-3{FunctionType[3]"
                  u"Param1[r3]Param2[ok]}",
                  u"FunctionType[3]FunctionRes[r3]ProcessCallBackName[]",
                  {1, 3}},
        ShapeCase{"NextBeyondCountEnds",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[a]Param2[ok]TrueNext[3]}"
                  u"ProcessEntity-3{FunctionType[3]}",
                  u"FunctionType[1]FunctionRes[a]ProcessCallBackName[]",
                  {1}},
        ShapeCase{"NextNotANumberEnds",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param2[ok]TrueNext[x]}"
                  u"ProcessEntity-2{FunctionType[2]}",
                  u"FunctionType[1]FunctionRes[]ProcessCallBackName[]",
                  {1}},
        ShapeCase{"BackwardsThenOn",
                  u"ProcessNum{3}ProcessEntity-1{FunctionType[1]FalseNext[3]}"
                  u"ProcessEntity-3{FunctionType[3]FalseNext[2]}"
                  u"ProcessEntity-2{FunctionType[2]Param1[end]}",
                  u"FunctionType[2]FunctionRes[end]ProcessCallBackName[]",
                  {1, 3, 2}},
        ShapeCase{"UnknownCommandAtStepTwo",
                  u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[r]Param2[ok]TrueNext[2]}"
                  u"ProcessEntity-2{FunctionType[999]}ProcessCallBackName{cb}",
                  u"FunctionRes[-1]FunctionNotSucessAt[2]ProcessCallBackName[cb]",
                  {1}},
        ShapeCase{"MissingStep",
                  u"ProcessNum{1}ProcessCallBackName{cb}",
                  u"FunctionRes[-1]FunctionNotSucessAt[1]ProcessCallBackName[cb]",
                  {}},
        ShapeCase{"ResultPassesUnchanged",
                  u"ProcessNum{1}ProcessEntity-1{FunctionType[7]Param1[签名😀{x]}"
                  u"ProcessCallBackName{回调}",
                  u"FunctionType[7]FunctionRes[签名😀{x]ProcessCallBackName[回调]",
                  {7}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(RunProcessTest, ThrowingCommandReportsMinusOneAndFollowsItsFlag) {
    const std::u16string notSet =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[5]Param3[throw]TrueNext[2]FalseNext[3]}"
        u"ProcessEntity-2{FunctionType[2]}ProcessEntity-3{FunctionType[3]Param1[f]}";
    EXPECT_EQ(Run(notSet), u"FunctionType[3]FunctionRes[f]ProcessCallBackName[]");
    EXPECT_EQ(ran, (std::vector<int32_t>{5, 3}));

    ran.clear();
    const std::u16string set =
        u"ProcessNum{3}ProcessEntity-1{FunctionType[5]Param2[ok]Param3[throw]TrueNext[2]"
        u"FalseNext[3]}ProcessEntity-2{FunctionType[2]Param1[t]}ProcessEntity-3{FunctionType[3]}";
    EXPECT_EQ(Run(set), u"FunctionType[2]FunctionRes[t]ProcessCallBackName[]");
    EXPECT_EQ(ran, (std::vector<int32_t>{5, 2}));

    ran.clear();
    EXPECT_EQ(Run(u"ProcessNum{1}ProcessEntity-1{FunctionType[5]Param3[throw]}"),
              u"FunctionType[5]FunctionRes[-1]ProcessCallBackName[]");
}

TEST_F(RunProcessTest, EndlessChainStopsAtTheStepBound) {
    const std::u16string loop =
        u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[a]Param2[ok]TrueNext[2]}"
        u"ProcessEntity-2{FunctionType[2]Param1[b]Param2[ok]TrueNext[1]}ProcessCallBackName{l}";
    // An even bound ends on step 2.
    static_assert(kMaxStepsPerRequest % 2 == 0);
    EXPECT_EQ(Run(loop), u"FunctionType[2]FunctionRes[b]ProcessCallBackName[l]");
    EXPECT_EQ(ran.size(), static_cast<size_t>(kMaxStepsPerRequest));
}

TEST_F(RunProcessTest, StepBodiesAreReadFromTheWholeRequestEachTime) {
    const std::u16string selfLoopThenOut =
        u"ProcessNum{2}ProcessEntity-1{FunctionType[1]Param1[x]TrueNext[1]FalseNext[2]}"
        u"ProcessEntity-2{FunctionType[2]Param1[done]}";
    EXPECT_EQ(Run(selfLoopThenOut), u"FunctionType[2]FunctionRes[done]ProcessCallBackName[]");
    EXPECT_EQ(ran, (std::vector<int32_t>{1, 2}));
}

}  // namespace
