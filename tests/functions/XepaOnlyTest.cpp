// A side library that exports the XEPA list only: the plain list command gets
// the empty text, the XEPA command its list.
#include <gtest/gtest.h>

#include <mutex>

#include "CatalogueRows.h"
#include "TestLibraries.h"
#include "controls/CertSealList.h"
#include "protocol/RunProcess.h"

namespace {

class XepaOnlyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::lock_guard lock(TheCertSealListCache().listLock);
        TheCertSealListCache().text.clear();
    }

    SideLibraryCallLog calls_;
    ScopedEnvironment list_{"ZQT_SIDELIB_LIST", "plain list"};
    ScopedEnvironment xepa_{"ZQT_SIDELIB_LIST_XEPA", "xepa list"};
};

TEST_F(XepaOnlyTest, PlainListCommandFindsNoExport) {
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[401]")), Response(401, u""));
    EXPECT_EQ(RunProcess(BranchRequest(u"FunctionType[401]")).rfind(u"FunctionType[53]", 0), 0u);
    EXPECT_TRUE(calls_.Lines().empty());
}

TEST_F(XepaOnlyTest, XepaCommandReadsItsList) {
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[4011]")), Response(4011, u"xepa list"));
    EXPECT_EQ(calls_.Lines().size(), 2u);
}

TEST_F(XepaOnlyTest, PlainListCommandServesWhatXepaCached) {
    RunProcess(SingleStepRequest(u"FunctionType[4011]"));
    EXPECT_EQ(RunProcess(SingleStepRequest(u"FunctionType[401]")), Response(401, u"xepa list"));
    EXPECT_EQ(calls_.Lines().size(), 2u);
}

}  // namespace
