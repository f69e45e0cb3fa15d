#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "protocol/EumFunction.h"
#include "protocol/FunctionTable.h"

namespace {

TEST(FunctionTableTest, HoldsEveryNumberOnce) {
    auto table = FunctionTable();
    ASSERT_EQ(table.size(), 111u);
    std::set<int32_t> numbers;
    std::set<std::string> classes;
    for (const FunctionRow& row : table) {
        numbers.insert(row.number);
        classes.insert(row.className);
        bool inRange = (row.number >= 1 && row.number <= 208) ||
                       (row.number >= 301 && row.number <= 313) || row.number == 401 ||
                       row.number == 402 || row.number == 4011;
        EXPECT_TRUE(inRange) << row.number;
        EXPECT_EQ(FindFunctionRow(row.number), &row);
        if (row.number != 151) {
            EXPECT_EQ(row.storedNumber, row.number);
        }
    }
    EXPECT_EQ(numbers.size(), 111u);
    EXPECT_EQ(classes.size(), 110u);
    EXPECT_EQ(FindFunctionRow(151)->storedNumber, 206);
    EXPECT_STREQ(FindFunctionRow(151)->className, FindFunctionRow(206)->className);
}

TEST(FunctionTableTest, NamesThatDifferFromTheirClass) {
    struct Odd {
        int32_t number;
        std::u16string name;
        const char* className;
    };
    for (const Odd& odd : {Odd{152, u"DESCbcEncryptEx", "Function_FileEnc"},
                           Odd{153, u"DESCbcDecryptEx", "Function_FileDec"},
                           Odd{154, u"genSymmetrickey", "Function_GenSymmetrickey"},
                           Odd{402, u"GetUseMac", "Function_GetPCinfo"}}) {
        const FunctionRow* row = FindFunctionRow(odd.number);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(std::u16string(row->storedName), odd.name);
        EXPECT_STREQ(row->className, odd.className);
    }
    int same = 0;
    for (const FunctionRow& row : FunctionTable()) {
        std::u16string name(row.storedName);
        std::string className = "Function_" + std::string(name.begin(), name.end());
        same += className == row.className;
    }
    EXPECT_EQ(same, 111 - 4);
}

// The factory's log lands in $TMPDIR/ZQTCA; the test's environment points
// TMPDIR at a scratch folder, made here before the logger's first use.
class FactoryLogTest : public testing::Test {
  protected:
    static std::string LogPath() {
        std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        char name[64];
        std::strftime(name, sizeof name, "ZQTCAServiceClient_%Y-%m-%d.log", &local);
        return std::string(std::getenv("TMPDIR")) + "/ZQTCA/" + name;
    }
    static void SetUpTestSuite() {
        const char* tmp = std::getenv("TMPDIR");
        ASSERT_NE(tmp, nullptr);
        ::mkdir(tmp, 0700);
        std::string dir = std::string(tmp) + "/ZQTCA";
        ::mkdir(dir.c_str(), 0700);
        ::chmod(dir.c_str(), 0700);
        std::remove(LogPath().c_str());
    }
    static std::string ReadLog() {
        std::ifstream in(LogPath());
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

TEST_F(FactoryLogTest, UnknownNumbersMakeNothingButAreLogged) {
    for (const char16_t* body : {u"", u"FunctionType[0]", u"FunctionType[54]", u"FunctionType[209]",
                                 u"FunctionType[300]", u"FunctionType[314]", u"FunctionType[403]",
                                 u"FunctionType[4010]", u"FunctionType[abc]"}) {
        EXPECT_EQ(CreateFunction(body), nullptr);
    }
    std::string log = ReadLog();
    std::regex line(R"((\d\d):(\d\d):(\d\d)\|(\d+)\| Info: Factory is start !lFunctionType = )"
                    R"((-?\d+)\.\[EumFunction\.cpp:\d+\]\n)");
    std::vector<std::string> numbers;
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it) {
        numbers.push_back((*it)[5]);
    }
    EXPECT_EQ(numbers,
              (std::vector<std::string>{"0", "0", "54", "209", "300", "314", "403", "4010", "0"}));
}

}  // namespace
