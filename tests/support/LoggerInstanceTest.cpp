// The process-wide logger as the service makes it, from $TMPDIR. Each case
// runs in a child process, since the logger is made once per process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "LoggerTestSupport.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

void LogFromChild(const fs::path& tmpdir) {
    setenv("TMPDIR", tmpdir.c_str(), 1);
    CLogger* logger = CLogger::GetInstance();
    logger->LogInfo("Factory is start !lFunctionType = %d.[%s:%d]", 7, "EumFunction.cpp", 42);
    std::_Exit(CLogger::GetInstance() == logger ? 0 : 1);
}

fs::path MakeLogFolder(const fs::path& tmpdir) {
    fs::create_directories(tmpdir / "ZQTCA");
    fs::permissions(tmpdir / "ZQTCA", fs::perms::owner_all, fs::perm_options::replace);
    return tmpdir / "ZQTCA";
}

TEST(LoggerInstance, WritesIntoTheTemporaryDirectorysFolder) {
    TempDir temp;
    const fs::path folder = MakeLogFolder(temp.path());
    const std::time_t before = std::time(nullptr);
    EXPECT_EXIT(LogFromChild(temp.path()), testing::ExitedWithCode(0), "");
    fs::path file = folder / DayFileName(before);
    if (!fs::exists(file)) {
        file = folder / DayFileName(std::time(nullptr));
    }
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 1u);
    const std::string tail = "| Info: Factory is start !lFunctionType = 7.[EumFunction.cpp:42]";
    ASSERT_GT(lines[0].size(), tail.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - tail.size()), tail);
}

TEST(LoggerInstance, TemporaryDirectoryTooLongLogsNothing) {
    TempDir temp;
    fs::path tmpdir = temp.path();
    while (tmpdir.string().size() < 300) {
        tmpdir /= std::string(40, 'n');
    }
    const fs::path folder = MakeLogFolder(tmpdir);
    EXPECT_EXIT(LogFromChild(tmpdir), testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::is_empty(folder));
}

}  // namespace
