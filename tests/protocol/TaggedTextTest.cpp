#include "protocol/TaggedText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ReaderCase {
    const char* name;
    std::u16string key;
    std::u16string text;
    std::u16string expected;
};

void PrintTo(const ReaderCase& c, std::ostream* os) {
    *os << c.name;
}

class BracketReader : public testing::TestWithParam<ReaderCase> {};

TEST_P(BracketReader, FindsTheFirstQualifyingItem) {
    const ReaderCase& c = GetParam();
    EXPECT_EQ(ExtractBracketValue(c.key, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BracketReader,
    testing::Values(
        ReaderCase{"EmptyValue", u"Param1", u"Param1[]", u""},
        ReaderCase{"MissingKey", u"Param1", u"Param2[x]", u""},
        ReaderCase{"EmptyText", u"Param1", u"", u""}, ReaderCase{"EmptyKey", u"", u"[x]", u""},
        // The later "]" closes the first, unterminated value.
        ReaderCase{"UnclosedThenWellFormed", u"Param1", u"Param1[abc Param1[x]", u"abc Param1[x"},
        ReaderCase{"UnclosedAtEnd", u"Param1", u"Param2[y]Param1[abc", u""},
        ReaderCase{"KeyWithoutOpeningIsPassedOver", u"Param1", u"Param1 Param1[x]", u"x"},
        ReaderCase{"FirstCloseEndsTheValue", u"Param1", u"Param1[a]b]", u"a"},
        ReaderCase{"OpeningInsideValue", u"Param1", u"Param1[a[b]", u"a[b"},
        ReaderCase{"CaseSensitive", u"Param1", u"param1[x]", u""},
        ReaderCase{"InsideAnotherKey", u"Param1", u"XParam1[y]", u"y"},
        ReaderCase{"FirstOccurrenceWins", u"TrueNext", u"Param1[TrueNext[5]]TrueNext[2]", u"5"},
        ReaderCase{"BracesAreOrdinary", u"P", u"P[{a}]", u"{a}"},
        ReaderCase{"BraceItemIsNotBracket", u"P", u"P{a}", u""},
        ReaderCase{"NulHidesTheRest", u"Param1", std::u16string(u"A\0Param1[x]", 11), u""},
        ReaderCase{"NulInsideValue", u"Param1", std::u16string(u"Param1[a\0b]", 11), u""},
        ReaderCase{"NonAscii", u"Param1", u"Param1[签名😀]", u"签名😀"}),
    [](const auto& param) { return std::string(param.param.name); });

class BraceReader : public testing::TestWithParam<ReaderCase> {};

TEST_P(BraceReader, FindsTheFirstQualifyingItem) {
    const ReaderCase& c = GetParam();
    EXPECT_EQ(ExtractBraceValue(c.key, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BraceReader,
    testing::Values(ReaderCase{"StepKeyNotTakenFromLongerNumber", u"ProcessEntity-1",
                               u"ProcessEntity-12{A}ProcessEntity-1{B}", u"B"},
                    ReaderCase{"StepBodyHoldsBrackets", u"ProcessEntity-1",
                               u"ProcessEntity-1{FunctionType[1]Param1[x]}",
                               u"FunctionType[1]Param1[x]"},
                    ReaderCase{"BracketItemIsNotBrace", u"ProcessNum", u"ProcessNum[2]", u""},
                    ReaderCase{"Unclosed", u"ProcessNum", u"ProcessNum{2", u""},
                    ReaderCase{"Empty", u"ProcessNum", u"ProcessNum{}", u""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Readers, LeaveTheirInputAlone) {
    const std::u16string text = u"Param1[a]";
    std::u16string copy = text;
    ExtractBracketValue(u"Param1", copy);
    EXPECT_EQ(copy, text);
}

struct IntCase {
    std::u16string value;
    int32_t expected;
};

class ValueToIntCases : public testing::TestWithParam<IntCase> {};

TEST_P(ValueToIntCases, ReadsLikeWcstol) {
    EXPECT_EQ(ValueToInt(GetParam().value), GetParam().expected)
        << std::string(GetParam().value.begin(), GetParam().value.end());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueToIntCases,
    testing::Values(IntCase{u" 12abc", 12}, IntCase{u"abc", 0}, IntCase{u"", 0}, IntCase{u"-3", -3},
                    IntCase{u"+7", 7}, IntCase{u"99999999999", 2147483647},
                    IntCase{u"-99999999999", -2147483647 - 1}, IntCase{u"2147483647", 2147483647},
                    IntCase{u"2147483648", 2147483647}, IntCase{u"-2147483648", -2147483647 - 1},
                    IntCase{u"-2147483649", -2147483647 - 1}, IntCase{u"\t\n\v\f\r 5", 5},
                    IntCase{u"- 5", 0}, IntCase{u"+-5", 0}, IntCase{u"0010", 10},
                    IntCase{u"1 2", 1}, IntCase{u"00000000000000000000042", 42},
                    IntCase{u"１２", 0},
                    IntCase{std::u16string(u"4\0"
                                           u"2",
                                           3),
                            4}));

}  // namespace
