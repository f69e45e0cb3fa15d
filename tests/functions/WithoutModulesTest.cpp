// With neither control module nor side library to be found, every request is
// still answered: text commands fail with the empty text, number commands
// with -1, the list commands with the empty text.
#include <gtest/gtest.h>

#include "CatalogueRows.h"
#include "controls/CertSealList.h"
#include "controls/HostedControl.h"
#include "protocol/RunProcess.h"

namespace {

class WithoutModulesTest : public ::testing::TestWithParam<CatalogueRow> {
  protected:
    static void SetUpTestSuite() {
        ASSERT_FALSE(CUlvoctrlctrl::Instance().Create());
        ASSERT_FALSE(CUlvocertenrollctrl::Instance().Create());
    }
};

TEST_P(WithoutModulesTest, EveryCommandFailsAndGoesOnAtFalseNext) {
    const CatalogueRow& row = GetParam();
    const bool number = row.returns == Returns::Number;
    EXPECT_EQ(RunProcess(SingleStepRequest(StepBody(row))),
              Response(row.reportedType, number ? u"-1" : u""));
    // The markers are number commands themselves, so the false marker reports -1.
    EXPECT_EQ(RunProcess(BranchRequest(StepBody(row))), Response(kFalseMarker, u"-1"));
    EXPECT_EQ(TheCertSealListCache().text, u"");
}

INSTANTIATE_TEST_SUITE_P(EveryNumber, WithoutModulesTest, ::testing::ValuesIn(CatalogueRows()),
                         [](const auto& testCase) {
                             return std::to_string(testCase.param.number) + "_" +
                                    testCase.param.name;
                         });

}  // namespace
