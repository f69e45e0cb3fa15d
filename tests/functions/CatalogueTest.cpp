// Walks every command number through RunProcess against the recording control
// module: control, dispatch id, argument types and values, return type,
// result text and the step taken next.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "CatalogueRows.h"
#include "RecordedControls.h"
#include "TestLibraries.h"
#include "protocol/FunctionTable.h"
#include "protocol/RunProcess.h"

namespace {

struct Outcome {
    int32_t invokeRc;  // non-zero: the invocation itself fails
    int32_t number;
    std::u16string text;
    std::u16string expectedResult;
    bool succeeds;
};

std::vector<Outcome> OutcomesOf(const CatalogueRow& row) {
    if (row.returns == Returns::Number) {
        return {{0, 0, u"ignored", u"0", true},
                {0, -5, u"ignored", u"-5", false},
                {0, 7, u"ignored", u"7", false},
                {3, 0, u"ignored", u"-1", false}};
    }
    const std::u16string text = u"text-" + Wide(std::to_string(row.number)) + u" [x]";
    return {{0, 0, text, text, true}, {0, 1, u"", u"", false}, {3, 0, text, u"-1", false}};
}

bool IsControlRow(const CatalogueRow& row) {
    return row.target == Target::Main || row.target == Target::Enrolment;
}

std::vector<CatalogueRow> RowsWhere(bool controlRows) {
    std::vector<CatalogueRow> rows;
    for (const CatalogueRow& row : CatalogueRows()) {
        if (IsControlRow(row) == controlRows) {
            rows.push_back(row);
        }
    }
    return rows;
}

std::string RowName(const ::testing::TestParamInfo<CatalogueRow>& info) {
    return std::to_string(info.param.number) + "_" + info.param.name;
}

std::u16string MarkerPrefix(bool succeeded) {
    return u"FunctionType[" + Wide(std::to_string(succeeded ? kTrueMarker : kFalseMarker)) +
           u"]FunctionRes[";
}

class CatalogueTest : public RecordedControlsTest,
                      public ::testing::WithParamInterface<CatalogueRow> {
  protected:
    const RecordingModule& Called() const {
        return GetParam().target == Target::Enrolment ? Enrolment() : Main();
    }
    const RecordingModule& NotCalled() const {
        return GetParam().target == Target::Enrolment ? Main() : Enrolment();
    }
    static const char* ClassId(Target target) {
        return target == Target::Enrolment ? "ulvo.certenroll" : "ulvo.ctrl";
    }

    void Script(const Outcome& outcome) const {
        Main().Reset();
        Enrolment().Reset();
        Called().Script(GetParam().dispid, outcome.invokeRc, outcome.number, outcome.text);
    }
};

TEST_P(CatalogueTest, MakesItsOneControlCallAndReportsItsOutcome) {
    const CatalogueRow& row = GetParam();
    for (const Outcome& outcome : OutcomesOf(row)) {
        SCOPED_TRACE("returned " + std::to_string(outcome.number) + ", invoke rc " +
                     std::to_string(outcome.invokeRc));
        Script(outcome);
        EXPECT_EQ(RunProcess(SingleStepRequest(StepBody(row))),
                  Response(row.reportedType, outcome.expectedResult));

        const std::vector<RecordedCall> calls = Called().Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].classId, ClassId(row.target));
        EXPECT_EQ(calls[0].dispid, row.dispid);
        EXPECT_EQ(calls[0].resultVt, row.returns == Returns::Number ? ZQT_VT_I4 : ZQT_VT_BSTR);
        EXPECT_EQ(calls[0].args, ExpectedArgs(row));
        EXPECT_TRUE(NotCalled().Calls().empty());
    }
}

TEST_P(CatalogueTest, FollowsTrueNextExactlyOnSuccess) {
    const CatalogueRow& row = GetParam();
    for (const Outcome& outcome : OutcomesOf(row)) {
        SCOPED_TRACE("returned " + std::to_string(outcome.number) + ", invoke rc " +
                     std::to_string(outcome.invokeRc));
        Script(outcome);
        const std::u16string response = RunProcess(BranchRequest(StepBody(row)));
        EXPECT_EQ(response.rfind(MarkerPrefix(outcome.succeeds), 0), 0u)
            << ::testing::PrintToString(response);

        // The command's call first, then the marker step's.
        const std::vector<RecordedCall> calls = Called().Calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front().dispid, row.dispid);
        const std::vector<RecordedCall> mainCalls = Main().Calls();
        ASSERT_FALSE(mainCalls.empty());
        EXPECT_EQ(mainCalls.back().dispid, outcome.succeeds ? kTrueMarker : kFalseMarker);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryControlCall, CatalogueTest, ::testing::ValuesIn(RowsWhere(true)),
                         RowName);

class ListRowTest : public RecordedControlsTest,
                    public ::testing::WithParamInterface<CatalogueRow> {};

TEST_P(ListRowTest, AnswersFromTheSideLibraryWithoutAControlCall) {
    const CatalogueRow& row = GetParam();
    const char* variable =
        row.target == Target::CachedList ? "ZQT_SIDELIB_LIST" : "ZQT_SIDELIB_LIST_XEPA";
    for (const std::string& list : {"list-" + std::to_string(row.number), std::string()}) {
        SCOPED_TRACE("list \"" + list + "\"");
        ScopedEnvironment scripted(variable, list);
        Main().Reset();
        ClearCachedList();
        EXPECT_EQ(RunProcess(SingleStepRequest(StepBody(row))),
                  Response(row.reportedType, Wide(list)));
        EXPECT_TRUE(Main().Calls().empty());
        EXPECT_TRUE(Enrolment().Calls().empty());

        ClearCachedList();
        EXPECT_EQ(RunProcess(BranchRequest(StepBody(row))).rfind(MarkerPrefix(!list.empty()), 0),
                  0u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryListCommand, ListRowTest, ::testing::ValuesIn(RowsWhere(false)),
                         RowName);

TEST(CatalogueRowsTest, CoverEveryNumberOfTheFactoryAndNoOther) {
    std::set<int32_t> expected;
    for (const CatalogueRow& row : CatalogueRows()) {
        EXPECT_TRUE(expected.insert(row.number).second) << row.number;
    }
    EXPECT_EQ(expected.size(), 111u);
    std::set<int32_t> built;
    for (const FunctionRow& row : FunctionTable()) {
        EXPECT_NE(row.make, nullptr) << row.number;
        built.insert(row.number);
    }
    EXPECT_EQ(built, expected);
}

class NumberResultTest : public RecordedControlsTest,
                         public ::testing::WithParamInterface<int32_t> {};

TEST_P(NumberResultTest, WritesTheNumberInDecimalAndSucceedsOnlyAtZero) {
    const int32_t number = GetParam();
    Main().Script(11, 0, number);
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[11]")),
              Response(11, Wide(std::to_string(number))));
    Main().Script(11, 0, number);
    EXPECT_EQ(RunProcess(BranchRequest(u"FunctionType[11]")).rfind(MarkerPrefix(number == 0), 0),
              0u);
}

INSTANTIATE_TEST_SUITE_P(Extremes, NumberResultTest,
                         ::testing::Values(0, 1, -1, INT32_MIN, INT32_MAX));

}  // namespace
