// A main control module built for another interface version, and no side
// library at all (LD_LIBRARY_PATH=lib/badabi).
#include <gtest/gtest.h>

#include "TestLibraries.h"
#include "controls/CertSealList.h"
#include "controls/HostedControl.h"

namespace {

TEST(BadAbiTest, ModuleOfAnotherVersionIsRefusedAndUnloaded) {
    CUlvoctrlctrl& control = CUlvoctrlctrl::Instance();
    EXPECT_FALSE(control.Create());
    EXPECT_FALSE(IsLoaded(TestLibrary("badabi/libulvoctrl.so")));

    RecordingModule module("libulvoctrl.so");
    EXPECT_FALSE(control.Create());
    EXPECT_EQ(control.InvokeText(99), u"");
    EXPECT_THROW(control.InvokeNumber(6, {u"x"}), ControlInvocationError);
    EXPECT_TRUE(module.Calls().empty());
}

TEST(MissingSideLibraryTest, BothReadsGiveTheEmptyTextSilently) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "plain");
    ScopedEnvironment xepa("ZQT_SIDELIB_LIST_XEPA", "xepa");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ReadCertAndSealList(), u"");
    EXPECT_EQ(ReadCertAndSealListXEPA(), u"");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
