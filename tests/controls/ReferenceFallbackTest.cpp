// The installed reference module is the last place a control module is
// looked for: after the library path and beside the executable.
#include <gtest/gtest.h>

#include "TestLibraries.h"
#include "controls/HostedControl.h"

namespace {

const std::string kReference =
    std::string(ZQT_TEST_INSTALLED_DIR) + "/lib/zqtca/reference/libulvoctrl.so";

#ifndef ZQT_TEST_VENDOR_DIR
TEST(ReferenceFallbackTest, TheReferenceModuleIsUsedWhenNoOtherIsFound) {
    CUlvoctrlctrl& control = CUlvoctrlctrl::Instance();
    ASSERT_TRUE(control.Create());
    EXPECT_TRUE(IsLoaded(kReference));
    control.Release();
}
#else
TEST(ReferenceFallbackTest, AModuleOnTheLibraryPathWins) {
    CUlvoctrlctrl& control = CUlvoctrlctrl::Instance();
    ASSERT_TRUE(control.Create());
    EXPECT_TRUE(IsLoaded(std::string(ZQT_TEST_VENDOR_DIR) + "/libulvoctrl.so"));
    EXPECT_FALSE(IsLoaded(kReference));
    control.Release();
}
#endif

}  // namespace
