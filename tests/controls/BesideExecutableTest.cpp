// Modules found beside the executable when the search path has none
// (LD_LIBRARY_PATH empty; the build copies the doubles next to this test).
#include <gtest/gtest.h>

#include "TestLibraries.h"
#include "controls/CertSealList.h"
#include "controls/HostedControl.h"
#include "controls/SharedLibrary.h"

namespace {

TEST(BesideExecutableTest, ExecutableDirectoryIsWhereThisTestLives) {
    EXPECT_EQ(zqt::ExecutableDirectory(), ZQT_TEST_BESIDE_DIR);
}

TEST(BesideExecutableTest, ControlModuleIsLoadedFromBesideTheExecutable) {
    const std::string besideModule = std::string(ZQT_TEST_BESIDE_DIR) + "/libulvoctrl.so";
    CUlvoctrlctrl& control = CUlvoctrlctrl::Instance();
    ASSERT_TRUE(control.Create());
    EXPECT_TRUE(IsLoaded(besideModule));

    RecordingModule module(besideModule);
    module.Script(99, 0, 0, u"found");
    EXPECT_EQ(control.InvokeText(99), u"found");
    control.Release();
}

TEST(BesideExecutableTest, SideLibraryIsLoadedFromBesideTheExecutable) {
    ScopedEnvironment list("ZQT_SIDELIB_LIST", "beside");
    EXPECT_EQ(ReadCertAndSealList(), u"beside");
}

}  // namespace
