#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <thread>

#include "support/DiagnosticLog.h"

namespace {

std::string line_of(const char* level, const char* file, int line, const char* function,
                    const char* fmt, ...) __attribute__((format(printf, 5, 6)));

std::string line_of(const char* level, const char* file, int line, const char* function,
                    const char* fmt, ...) {
    struct timespec when {};
    when.tv_sec = 1700000000;
    when.tv_nsec = 125000000;
    va_list args;
    va_start(args, fmt);
    std::string text = zqt::format_log_line(when, level, file, line, function, fmt, args);
    va_end(args);
    return text;
}

const std::regex kLine(
    R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (info|error|fatal) [^ ]+:\d+ [^ ]+: .*$)");

TEST(LogLine, CarriesTimeLevelSourceFunctionAndMessage) {
    const std::string text =
        line_of("error", "master_services", 42, "master_services::thread_on_init", "load %s error",
                "./ZQTService/mbedtls.dll");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    const std::string body = text.substr(0, text.size() - 1);
    EXPECT_TRUE(std::regex_match(body, kLine)) << body;
    EXPECT_NE(body.find(".125 error master_services:42 master_services::thread_on_init: "
                        "load ./ZQTService/mbedtls.dll error"),
              std::string::npos)
        << body;
}

TEST(LogLine, LineBreaksInTheMessageStayOnOneLine) {
    const std::string text = line_of("info", "f", 1, "g", "a\r\nb%sc", "\n");
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_NE(text.find("a  b c"), std::string::npos) << text;
}

TEST(LogLine, MissingNamesAndLongMessagesAreFine) {
    const std::string longText(10000, 'x');
    const std::string text = line_of("info", nullptr, 7, nullptr, "%s", longText.c_str());
    EXPECT_NE(text.find(" info -:7 -: x"), std::string::npos);
    EXPECT_NE(text.find(longText), std::string::npos);
}

TEST(Log, WritesEachLevelToStandardError) {
    testing::internal::CaptureStderr();
    zqt::log::msg4("master_services", 10, "setup_ssl", "handshake_ok");
    zqt::log::error4("master_services", 11, "setup_ssl", "ssl handshake failed %d", 3);
    const std::string err = testing::internal::GetCapturedStderr();
    std::istringstream lines(err);
    std::string first, second;
    ASSERT_TRUE(std::getline(lines, first));
    ASSERT_TRUE(std::getline(lines, second));
    EXPECT_TRUE(std::regex_match(first, kLine)) << first;
    EXPECT_NE(first.find("info master_services:10 setup_ssl: handshake_ok"), std::string::npos);
    EXPECT_NE(second.find("error master_services:11 setup_ssl: ssl handshake failed 3"),
              std::string::npos);
}

TEST(Log, LinesFromManyThreadsAreNeverInterleaved) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string filler(300, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                zqt::log::msg4("src", t, "fn", "%d:%s:%d", t, filler.c_str(), i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const std::string err = testing::internal::GetCapturedStderr();
    std::istringstream lines(err);
    std::string line;
    int count = 0;
    const std::regex message(R"(.* fn: (\d):([a-h]{300}):\d+$)");
    while (std::getline(lines, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, message)) << line.substr(0, 120);
        const char expected = static_cast<char>('a' + std::stoi(m[1]));
        EXPECT_EQ(m[2].str(), std::string(300, expected));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

TEST(LogDeathTest, FatalWritesItsLineAndDoesNotReturn) {
    EXPECT_DEATH(
        zqt::log::fatal4("master_services", 99, "master_services::thread_on_read", "servlet null!"),
        "fatal master_services:99 master_services::thread_on_read: servlet null!");
}

}  // namespace
