// No control module on the search path, and a side library with the XEPA
// export only (LD_LIBRARY_PATH=lib/sidelib-xepa).
#include <gtest/gtest.h>

#include "TestLibraries.h"
#include "controls/CertSealList.h"
#include "controls/HostedControl.h"

namespace {

template <typename Wrapper>
void ExpectMissing(Wrapper& wrapper) {
    EXPECT_FALSE(wrapper.Create());
    EXPECT_FALSE(wrapper.IsCreated());
    EXPECT_EQ(wrapper.InvokeText(99), u"");
    EXPECT_EQ(wrapper.InvokeText(34, {u"a", u"b"}), u"");
    EXPECT_THROW(wrapper.InvokeNumber(152, {u"a", u"b"}), ControlInvocationError);
}

TEST(WithoutModulesTest, MainControlIsMissing) {
    ExpectMissing(CUlvoctrlctrl::Instance());
}

TEST(WithoutModulesTest, EnrolmentControlIsMissing) {
    ExpectMissing(CUlvocertenrollctrl::Instance());
}

TEST(XepaOnlyLibraryTest, ServesTheXepaListOnly) {
    SideLibraryCallLog calls;
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "plain");
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", "xepa");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ReadCertAndSealList(), u"");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"xepa");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(calls.Lines(), (std::vector<std::string>{"GetCertAndSeallistXEPA 1 null",
                                                       "GetCertAndSeallistXEPA 2 buffer"}));
    EXPECT_FALSE(IsLoaded("libULVO_LIB_client.so"));
}

}  // namespace
