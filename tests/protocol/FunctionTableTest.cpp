#include "protocol/FunctionTable.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace {

bool InNumberRanges(int32_t n) {
    return (n >= 1 && n <= 208) || (n >= 301 && n <= 313) || n == 401 || n == 402 || n == 4011;
}

std::string Narrow(const char16_t* text) {
    std::string narrow;
    for (; *text != u'\0'; ++text) {
        narrow += static_cast<char>(*text);
    }
    return narrow;
}

TEST(FunctionTable, HoldsOneHundredElevenNumbersAndOneHundredTenClasses) {
    const auto table = FunctionTable();
    ASSERT_EQ(table.size(), 111u);
    std::set<int32_t> numbers;
    std::set<std::string> classes;
    for (const FunctionRow& row : table) {
        numbers.insert(row.number);
        classes.insert(row.className);
    }
    EXPECT_EQ(numbers.size(), 111u);
    EXPECT_EQ(classes.size(), 110u);
}

TEST(FunctionTable, IsSortedByNumber) {
    const auto table = FunctionTable();
    for (size_t i = 1; i < table.size(); ++i) {
        EXPECT_LT(table[i - 1].number, table[i].number) << "row " << i;
    }
}

TEST(FunctionTable, NumbersLieInTheFourRanges) {
    for (const FunctionRow& row : FunctionTable()) {
        EXPECT_TRUE(InNumberRanges(row.number)) << row.number;
    }
    EXPECT_NE(FindFunctionRow(4011), nullptr);
    EXPECT_NE(FindFunctionRow(401), nullptr);
    EXPECT_NE(FindFunctionRow(402), nullptr);
}

TEST(FunctionTable, EveryRowStoresItsOwnNumberBut151) {
    for (const FunctionRow& row : FunctionTable()) {
        if (row.number != 151) {
            EXPECT_EQ(row.storedNumber, row.number) << row.className;
        }
    }
    const FunctionRow* asked = FindFunctionRow(151);
    const FunctionRow* own = FindFunctionRow(206);
    ASSERT_NE(asked, nullptr);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(asked->storedNumber, 206);
    EXPECT_EQ(std::u16string(asked->storedName), u"ReadSealData");
    EXPECT_EQ(std::u16string(own->storedName), u"ReadSealData");
    EXPECT_STREQ(asked->className, "Function_ReadSealData");
    EXPECT_STREQ(own->className, "Function_ReadSealData");
}

TEST(FunctionTable, FourNamesDifferFromTheirClass) {
    std::set<int32_t> differing;
    for (const FunctionRow& row : FunctionTable()) {
        if ("Function_" + Narrow(row.storedName) != row.className) {
            differing.insert(row.number);
        }
    }
    EXPECT_EQ(differing, (std::set<int32_t>{152, 153, 154, 402}));

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
        ASSERT_NE(row, nullptr) << odd.number;
        EXPECT_EQ(std::u16string(row->storedName), odd.name);
        EXPECT_STREQ(row->className, odd.className);
    }
}

TEST(FunctionTable, LookupAgreesWithTheRowsForEveryNumber) {
    std::set<int32_t> listed;
    for (const FunctionRow& row : FunctionTable()) {
        listed.insert(row.number);
        EXPECT_EQ(FindFunctionRow(row.number), &row);
    }
    for (int32_t n = -20; n <= 5000; ++n) {
        if (listed.count(n) == 0) {
            EXPECT_EQ(FindFunctionRow(n), nullptr) << n;
        }
    }
    EXPECT_EQ(FindFunctionRow(2147483647), nullptr);
    EXPECT_EQ(FindFunctionRow(-2147483647 - 1), nullptr);
}

}  // namespace
