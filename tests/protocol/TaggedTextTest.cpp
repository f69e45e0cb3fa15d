#include "functions/TaggedText.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/protocol/CaseName.h"

namespace {

// Builds a text that may hold NUL code units or lone surrogates.
std::u16string Units(std::initializer_list<char16_t> units) {
    return std::u16string(units);
}

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
        ReaderCase{"Plain", u"Param1", u"Param1[x]", u"x"},
        ReaderCase{"EmptyValue", u"Param1", u"Param1[]", u""},
        ReaderCase{"MissingKey", u"Param1", u"Param2[x]", u""},
        ReaderCase{"EmptyText", u"Param1", u"", u""}, ReaderCase{"EmptyKey", u"", u"[x]", u""},
        ReaderCase{"EmptyKeyAndText", u"", u"", u""},
        // The first unterminated value is closed by the later item's "]".
        ReaderCase{"UnclosedThenWellFormed", u"Param1", u"Param1[abc Param1[x]", u"abc Param1[x"},
        ReaderCase{"UnclosedAtEnd", u"Param1", u"Param2[y]Param1[abc", u""},
        ReaderCase{"OpeningAtEnd", u"Param1", u"Param1[", u""},
        ReaderCase{"KeyAtEnd", u"Param1", u"x Param1", u""},
        ReaderCase{"KeyWithoutOpeningIsPassedOver", u"Param1", u"Param1 Param1[x]", u"x"},
        ReaderCase{"SeveralPassedOver", u"P", u"PaPbP P[v]", u"v"},
        ReaderCase{"FirstCloseEndsTheValue", u"Param1", u"Param1[a]b]", u"a"},
        ReaderCase{"OpeningInsideValue", u"Param1", u"Param1[a[b]", u"a[b"},
        ReaderCase{"CaseSensitive", u"Param1", u"param1[x]", u""},
        ReaderCase{"InsideAnotherKey", u"Param1", u"XParam1[y]", u"y"},
        ReaderCase{"LongerKeyIsNotTaken", u"Param1", u"Param12[y]Param1[z]", u"z"},
        ReaderCase{"FirstOccurrenceWins", u"TrueNext", u"Param1[TrueNext[5]]TrueNext[2]", u"5"},
        ReaderCase{"DuplicateItems", u"Param1", u"Param1[a]Param1[b]", u"a"},
        ReaderCase{"OtherTextIgnored", u"Param2", u"junk Param1[a] junk Param2[b] more", u"b"},
        // The search goes on behind the passed-over key, so an occurrence
        // overlapping it is not seen.
        ReaderCase{"OverlappingOccurrenceNotSeen", u"aa", u"aaa[x]", u""},
        ReaderCase{"BracesAreOrdinary", u"P", u"P[{a}]", u"{a}"},
        ReaderCase{"BraceItemIsNotBracket", u"P", u"P{a}", u""},
        ReaderCase{"BlanksKept", u"P", u"P[ a b ]", u" a b "},
        ReaderCase{"NulHidesTheRest", u"P", Units({u'A', 0, u'P', u'[', u'x', u']'}), u""},
        ReaderCase{"NulHidesTheClose", u"P", Units({u'P', u'[', u'a', 0, u'b', u']'}), u""},
        ReaderCase{"NulBehindTheItem", u"P", Units({u'P', u'[', u'a', u']', 0, u'P'}), u"a"},
        ReaderCase{"NulAtStart", u"P", Units({0, u'P', u'[', u'a', u']'}), u""},
        ReaderCase{"NonAscii", u"Param1", u"Param1[签名😀]", u"签名😀"},
        ReaderCase{"LoneSurrogates", u"P", Units({u'P', u'[', 0xD800, u'x', 0xDC00, u']'}),
                   Units({0xD800, u'x', 0xDC00})}),
    CaseName<ReaderCase>);

class BraceReader : public testing::TestWithParam<ReaderCase> {};

TEST_P(BraceReader, FindsTheFirstQualifyingItem) {
    const ReaderCase& c = GetParam();
    EXPECT_EQ(ExtractBraceValue(c.key, c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BraceReader,
    testing::Values(
        ReaderCase{"StepKeyNotTakenFromLongerNumber", u"ProcessEntity-1",
                   u"ProcessEntity-12{A}ProcessEntity-1{B}", u"B"},
        ReaderCase{"StepBodyHoldsBrackets", u"ProcessEntity-1",
                   u"ProcessEntity-1{FunctionType[1]Param1[x]}", u"FunctionType[1]Param1[x]"},
        ReaderCase{"FirstCloseEndsTheBody", u"ProcessEntity-1", u"ProcessEntity-1{Param1[a}b]}",
                   u"Param1[a"},
        ReaderCase{"BracketItemIsNotBrace", u"ProcessNum", u"ProcessNum[2]", u""},
        ReaderCase{"PassedOverThenFound", u"ProcessNum", u"ProcessNum[2]ProcessNum{3}", u"3"},
        ReaderCase{"Unclosed", u"ProcessNum", u"ProcessNum{2", u""},
        ReaderCase{"UnclosedThenWellFormed", u"P", u"P{a P{b}", u"a P{b"},
        ReaderCase{"Empty", u"ProcessNum", u"ProcessNum{}", u""},
        ReaderCase{"FirstOccurrenceWins", u"ProcessNum", u"ProcessNum{1}ProcessNum{2}", u"1"},
        ReaderCase{"NulHidesTheRest", u"P", Units({u'x', 0, u'P', u'{', u'a', u'}'}), u""},
        ReaderCase{"NonAscii", u"ProcessCallBackName", u"ProcessCallBackName{回调}", u"回调"}),
    CaseName<ReaderCase>);

TEST(Readers, LeaveTheirInputAlone) {
    const std::u16string original = u"ProcessEntity-1{Param1[a]}";
    std::u16string text = original;
    EXPECT_EQ(ExtractBracketValue(u"Param1", text), u"a");
    EXPECT_EQ(ExtractBraceValue(u"ProcessEntity-1", text), u"Param1[a]");
    EXPECT_EQ(text, original);
}

struct IntCase {
    const char* name;
    std::u16string value;
    int32_t expected;
};

void PrintTo(const IntCase& c, std::ostream* os) {
    *os << c.name;
}

class ValueToIntCases : public testing::TestWithParam<IntCase> {};

TEST_P(ValueToIntCases, ReadsLikeWcstolInBaseTen) {
    EXPECT_EQ(ValueToInt(GetParam().value), GetParam().expected);
}

constexpr int32_t kMax = 2147483647;
constexpr int32_t kMin = -2147483647 - 1;

INSTANTIATE_TEST_SUITE_P(
    Cases, ValueToIntCases,
    testing::Values(
        IntCase{"BlankThenDigitsThenText", u" 12abc", 12}, IntCase{"Letters", u"abc", 0},
        IntCase{"Empty", u"", 0}, IntCase{"Negative", u"-3", -3}, IntCase{"Plus", u"+7", 7},
        IntCase{"ElevenNines", u"99999999999", kMax},
        IntCase{"ElevenNinesNegative", u"-99999999999", kMin},
        IntCase{"ManyDigits", std::u16string(200, u'9'), kMax},
        IntCase{"ManyDigitsNegative", u"-" + std::u16string(200, u'9'), kMin},
        IntCase{"Max", u"2147483647", kMax}, IntCase{"OneAboveMax", u"2147483648", kMax},
        IntCase{"Min", u"-2147483648", kMin}, IntCase{"OneBelowMin", u"-2147483649", kMin},
        IntCase{"NearMax", u"2147483646", 2147483646},
        IntCase{"NearMin", u"-2147483647", -2147483647},
        IntCase{"LongAsSixtyFourBits", u"4294967296", kMax},
        IntCase{"LeadingZerosToMin", u"-000000000002147483648", kMin},
        IntCase{"AllAsciiBlanks", u"\t\n\v\f\r 5", 5}, IntCase{"BlankThenSign", u"  -8", -8},
        IntCase{"BlankAfterSign", u"- 5", 0}, IntCase{"TwoSigns", u"+-5", 0},
        IntCase{"SignAlone", u"-", 0}, IntCase{"PlusAlone", u"+", 0},
        IntCase{"MinusZero", u"-0", 0}, IntCase{"LeadingZeros", u"0010", 10},
        IntCase{"StopsAtBlank", u"1 2", 1}, IntCase{"StopsAtPoint", u"3.9", 3},
        IntCase{"NoHex", u"0x1F", 0}, IntCase{"ZeroPaddedLong", u"00000000000000000000042", 42},
        IntCase{"FullWidthDigitsAreNotDigits", u"１２", 0},
        IntCase{"EmbeddedNulEndsDigits", Units({u'4', 0, u'2'}), 4},
        IntCase{"NulFirst", Units({0, u'7'}), 0},
        IntCase{"LoneSurrogateFirst", Units({0xD800, u'7'}), 0}),
    CaseName<IntCase>);

}  // namespace
