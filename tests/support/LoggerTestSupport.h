#pragma once
// Loggers on a folder and clock of the test's choosing, and reading back.

#include <atomic>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CLogger.h"

class TestLogger : public CLogger {
  public:
    explicit TestLogger(const std::string& folder, NowFunction now = nullptr)
        : CLogger(folder.c_str(), now) {}
};

// A clock the test sets; the logger reads it for the day and the line time.
inline std::atomic<std::time_t> g_fakeNow{0};
inline std::time_t FakeNow() {
    return g_fakeNow.load();
}

inline std::time_t UtcTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

inline std::string DayFileName(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char name[64];
    std::strftime(name, sizeof name, "ZQTCAServiceClient_%Y-%m-%d.log", &local);
    return name;
}
