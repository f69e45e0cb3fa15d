#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <regex>
#include <thread>

#include "LoggerTestSupport.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

const std::regex kLineShape(R"(^(\d{2}):(\d{2}):(\d{2})\|(\d+)\| Info: (.*)$)");

class Logger : public testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        fs::create_directory(folder());
        fs::permissions(folder(), fs::perms::owner_all, fs::perm_options::replace);
    }
    void TearDown() override {
        unsetenv("TZ");
        tzset();
    }

    fs::path folder() const { return m_temp.path() / "ZQTCA"; }
    std::string folderText() const { return folder().string() + "/"; }

  private:
    TempDir m_temp;
};

TEST_F(Logger, WritesTimeThreadAndMessageIntoDayFile) {
    g_fakeNow = UtcTime(2024, 3, 5, 9, 5, 7);
    {
        TestLogger logger(folderText(), &FakeNow);
        logger.LogInfo("Factory is start !lFunctionType = %d.[%s:%d]", 12, "EumFunction.cpp", 88);
    }
    const auto lines = ReadLines(folder() / "ZQTCAServiceClient_2024-03-05.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "09:05:07|" + std::to_string(gettid()) +
                            "| Info: Factory is start !lFunctionType = 12.[EumFunction.cpp:88]");
}

TEST_F(Logger, RealClockLineHasTheShapeAndTodaysName) {
    const std::time_t before = std::time(nullptr);
    {
        TestLogger logger(folderText());
        logger.LogInfo("hello %s", "world");
    }
    const std::time_t after = std::time(nullptr);
    fs::path file = folder() / DayFileName(before);
    if (!fs::exists(file)) {
        file = folder() / DayFileName(after);  // the day turned meanwhile
    }
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 1u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLineShape)) << lines[0];
    EXPECT_LT(std::stoi(match[1]), 24);
    EXPECT_LT(std::stoi(match[2]), 60);
    EXPECT_LT(std::stoi(match[3]), 61);
    EXPECT_EQ(std::stol(match[4]), gettid());
    EXPECT_EQ(match[5], "hello world");
    EXPECT_EQ(ReadFile(file).back(), '\n');
}

TEST_F(Logger, FileIsPrivateToTheUser) {
    const mode_t saved = umask(0);
    { TestLogger logger(folderText()); }
    umask(saved);
    struct stat st {};
    ASSERT_EQ(stat((folder() / DayFileName(std::time(nullptr))).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Logger, LinesAfterMidnightStayInTheCreationDaysFile) {
    g_fakeNow = UtcTime(2024, 3, 5, 23, 59, 59);
    TestLogger logger(folderText(), &FakeNow);
    logger.LogInfo("before");
    g_fakeNow = UtcTime(2024, 3, 6, 0, 0, 1);
    logger.LogInfo("after");
    const auto lines = ReadLines(folder() / "ZQTCAServiceClient_2024-03-05.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(0, 9), "23:59:59|");
    EXPECT_EQ(lines[1].substr(0, 9), "00:00:01|");
    EXPECT_FALSE(fs::exists(folder() / "ZQTCAServiceClient_2024-03-06.log"));
}

TEST_F(Logger, SecondLoggerOnTheSameDayAppends) {
    g_fakeNow = UtcTime(2025, 12, 31, 8, 0, 0);
    const fs::path file = folder() / "ZQTCAServiceClient_2025-12-31.log";
    std::ofstream(file) << "from an earlier run\n";
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    {
        TestLogger first(folderText(), &FakeNow);
        first.LogInfo("first");
    }
    {
        TestLogger second(folderText(), &FakeNow);
        second.LogInfo("second");
    }
    const auto lines = ReadLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "from an earlier run");
    EXPECT_NE(lines[1].find("| Info: first"), std::string::npos);
    EXPECT_NE(lines[2].find("| Info: second"), std::string::npos);
}

TEST_F(Logger, TooLongMessageIsCutToTheLineBuffer) {
    g_fakeNow = UtcTime(2024, 1, 2, 3, 4, 5);
    TestLogger logger(folderText(), &FakeNow);
    const std::string message(10000, 'x');
    logger.LogInfo("%s", message.c_str());
    logger.LogInfo("next");
    const auto lines = ReadLines(folder() / "ZQTCAServiceClient_2024-01-02.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 4095u);  // the 4096-byte buffer less its terminator
    const std::string prefix = "03:04:05|" + std::to_string(gettid()) + "| Info: ";
    EXPECT_EQ(lines[0], prefix + std::string(4095 - prefix.size(), 'x'));
    EXPECT_EQ(lines[1], prefix + "next");
}

TEST_F(Logger, NullFormatWritesNothing) {
    g_fakeNow = UtcTime(2024, 1, 2, 3, 4, 5);
    TestLogger logger(folderText(), &FakeNow);
    logger.LogInfo(nullptr);
    EXPECT_EQ(ReadFile(folder() / "ZQTCAServiceClient_2024-01-02.log"), "");
}

TEST_F(Logger, FolderMadeLaterIsUsedByTheNextLine) {
    g_fakeNow = UtcTime(2024, 6, 7, 10, 11, 12);
    fs::remove(folder());
    TestLogger logger(folderText(), &FakeNow);
    logger.LogInfo("lost");
    EXPECT_FALSE(fs::exists(folder()));
    fs::create_directory(folder());
    fs::permissions(folder(), fs::perms::owner_all, fs::perm_options::replace);
    logger.LogInfo("kept");
    const auto lines = ReadLines(folder() / "ZQTCAServiceClient_2024-06-07.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("| Info: kept"), std::string::npos);
}

TEST_F(Logger, ThreadsWriteWholeLinesWithTheirOwnIds) {
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    const std::string padding(1500, 'p');
    g_fakeNow = UtcTime(2024, 2, 29, 12, 0, 0);
    TestLogger logger(folderText(), &FakeNow);
    std::vector<pid_t> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ids[t] = gettid();
            for (int n = 0; n < kLines; ++n) {
                logger.LogInfo("worker %d line %d %s", t, n, padding.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::map<int, int> nextLine;
    const auto lines = ReadLines(folder() / "ZQTCAServiceClient_2024-02-29.log");
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& line : lines) {
        long id = 0;
        int worker = -1;
        int number = -1;
        int rest = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "12:00:00|%ld| Info: worker %d line %d %n", &id,
                              &worker, &number, &rest),
                  3)
            << line.substr(0, 80);
        ASSERT_GE(worker, 0);
        ASSERT_LT(worker, kThreads);
        EXPECT_EQ(id, ids[worker]);
        EXPECT_EQ(number, nextLine[worker]++);
        ASSERT_GT(rest, 0);
        EXPECT_EQ(line.substr(static_cast<size_t>(rest)), padding);
    }
    EXPECT_NE(ids[0], gettid());
    EXPECT_NE(ids[0], ids[1]);
}

TEST(LoggerWithoutFolder, EmptyFolderTextWritesNowhere) {
    TempDir work;
    const fs::path saved = fs::current_path();
    fs::current_path(work.path());
    {
        TestLogger logger("");
        logger.LogInfo("nowhere");
    }
    fs::current_path(saved);
    EXPECT_TRUE(fs::is_empty(work.path()));
}

}  // namespace
