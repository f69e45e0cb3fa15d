#pragma once
// Reads what the factory appended to today's log file under $TMPDIR/ZQTCA/.

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace daily_log {

inline std::string TodayPath() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "ZQTCAServiceClient_%Y-%m-%d.log", &local);
    const char* tmpdir = std::getenv("TMPDIR");
    return std::string(tmpdir ? tmpdir : "/tmp") + "/ZQTCA/" + name;
}

inline std::string Contents() {
    std::ifstream in(TodayPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One factory line as read back from the file.
struct FactoryLine {
    int hour, minute, second;
    long threadId;
    std::string number;
    std::string sourceFile;
    long sourceLine;
};

// Parses text that should consist of factory lines only; `whole` tells
// whether it did, with nothing else in between or behind.
inline std::vector<FactoryLine> ParseFactoryLines(const std::string& text, bool& whole) {
    static const std::regex line(
        R"((\d\d):(\d\d):(\d\d)\|(\d+)\| Info: Factory is start !lFunctionType = )"
        R"((-?\d+)\.\[([^\]:\n]+):(\d+)\]\n)");
    std::vector<FactoryLine> lines;
    size_t consumed = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line);
         it != std::sregex_iterator(); ++it) {
        const std::smatch& m = *it;
        if (static_cast<size_t>(m.position(0)) != consumed) {
            break;
        }
        consumed += static_cast<size_t>(m.length(0));
        lines.push_back({std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3]), std::stol(m[4]), m[5],
                         m[6], std::stol(m[7])});
    }
    whole = consumed == text.size();
    return lines;
}

}  // namespace daily_log
