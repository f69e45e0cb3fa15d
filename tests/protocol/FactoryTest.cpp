#include <cxxabi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>
#include <vector>

#include "protocol/EumFunction.h"
#include "protocol/FunctionTable.h"
#include "protocol/RunProcess.h"
#include "tests/protocol/CaseName.h"
#include "tests/protocol/DailyLog.h"

namespace {

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::u16string StepFor(int32_t number) {
    return u"FunctionType[" + Wide(std::to_string(number)) + u"]";
}

std::string ClassOf(const EumFunction& command) {
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> name(
        abi::__cxa_demangle(typeid(command).name(), nullptr, nullptr, &status), &std::free);
    return status == 0 && name ? std::string(name.get()) : std::string(typeid(command).name());
}

// Every row builds its own class with the row's stored number and name; a
// row whose class is not built yet makes nothing.
TEST(CreateFunction, BuildsEveryRowOfTheTable) {
    for (const FunctionRow& row : FunctionTable()) {
        SCOPED_TRACE(row.number);
        std::unique_ptr<EumFunction> command = CreateFunction(StepFor(row.number));
        if (row.make == nullptr) {
            EXPECT_EQ(command, nullptr);
            continue;
        }
        ASSERT_NE(command, nullptr);
        EXPECT_EQ(command->functionType, row.storedNumber);
        EXPECT_EQ(command->functionName, std::u16string(row.storedName));
        EXPECT_FALSE(command->succeeded);
        EXPECT_EQ(ClassOf(*command), row.className);
    }
}

struct KnownCase {
    const char* name;
    std::u16string body;
    int32_t functionType;
    std::u16string functionName;
    const char* className;
};

void PrintTo(const KnownCase& c, std::ostream* os) {
    *os << c.name;
}

class KnownNumbers : public testing::TestWithParam<KnownCase> {};

TEST_P(KnownNumbers, MakeTheirCommand) {
    const KnownCase& c = GetParam();
    std::unique_ptr<EumFunction> command = CreateFunction(c.body);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->functionType, c.functionType);
    EXPECT_EQ(command->functionName, c.functionName);
    EXPECT_EQ(ClassOf(*command), c.className);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KnownNumbers,
    testing::Values(KnownCase{"Sign", u"FunctionType[10]", 10, u"Sign", "Function_Sign"},
                    KnownCase{"LeadingBlank", u"FunctionType[ 10]", 10, u"Sign", "Function_Sign"},
                    KnownCase{"TrailingText", u"FunctionType[10abc]", 10, u"Sign", "Function_Sign"},
                    KnownCase{"WithOtherItems", u"Param1[x]FunctionType[10]Param2[y]TrueNext[2]",
                              10, u"Sign", "Function_Sign"},
                    KnownCase{"AskedAs151", u"FunctionType[151]", 206, u"ReadSealData",
                              "Function_ReadSealData"},
                    KnownCase{"AskedAs206", u"FunctionType[206]", 206, u"ReadSealData",
                              "Function_ReadSealData"},
                    KnownCase{"Xepa", u"FunctionType[4011]", 4011, u"GetCertAndSeallistXEPA",
                              "Function_GetCertAndSeallistXEPA"},
                    KnownCase{"Enrolment", u"FunctionType[305]", 305, u"ZQT_CreateP10",
                              "Function_ZQT_CreateP10"},
                    KnownCase{"GetUseMac", u"FunctionType[402]", 402, u"GetUseMac",
                              "Function_GetPCinfo"}),
    CaseName<KnownCase>);

struct UnknownCase {
    const char* name;
    std::u16string body;
};

void PrintTo(const UnknownCase& c, std::ostream* os) {
    *os << c.name;
}

class UnknownNumbers : public testing::TestWithParam<UnknownCase> {};

TEST_P(UnknownNumbers, MakeNothing) {
    EXPECT_EQ(CreateFunction(GetParam().body), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnknownNumbers,
                         testing::Values(UnknownCase{"EmptyBody", u""},
                                         UnknownCase{"NoFunctionType", u"Param1[10]"},
                                         UnknownCase{"EmptyValue", u"FunctionType[]"},
                                         UnknownCase{"NotANumber", u"FunctionType[abc]"},
                                         UnknownCase{"LowerCaseKey", u"functiontype[10]"},
                                         UnknownCase{"BraceItem", u"FunctionType{10}"},
                                         UnknownCase{"Unclosed", u"FunctionType[10"},
                                         UnknownCase{"Zero", u"FunctionType[0]"},
                                         UnknownCase{"Negative", u"FunctionType[-10]"},
                                         UnknownCase{"Gap54", u"FunctionType[54]"},
                                         UnknownCase{"Above208", u"FunctionType[209]"},
                                         UnknownCase{"Below301", u"FunctionType[300]"},
                                         UnknownCase{"Above313", u"FunctionType[314]"},
                                         UnknownCase{"Above402", u"FunctionType[403]"},
                                         UnknownCase{"Below4011", u"FunctionType[4010]"},
                                         UnknownCase{"Above4011", u"FunctionType[4012]"},
                                         UnknownCase{"Saturated", u"FunctionType[99999999999]"}),
                         CaseName<UnknownCase>);

// Every call writes one line with the number asked for, known or not, before
// the lookup.
TEST(FactoryLog, OneLinePerCallWithTheNumberAskedFor) {
    const std::vector<std::pair<std::u16string, std::string>> calls = {
        {u"", "0"},
        {u"Param1[x]", "0"},
        {u"FunctionType[abc]", "0"},
        {u"FunctionType[10]", "10"},
        {u"FunctionType[ 10]", "10"},
        {u"FunctionType[151]", "151"},
        {u"FunctionType[54]", "54"},
        {u"FunctionType[209]", "209"},
        {u"FunctionType[300]", "300"},
        {u"FunctionType[314]", "314"},
        {u"FunctionType[403]", "403"},
        {u"FunctionType[4010]", "4010"},
        {u"FunctionType[4011]", "4011"},
        {u"FunctionType[-7]", "-7"},
        {u"FunctionType[99999999999]", "2147483647"},
    };
    const size_t before = daily_log::Contents().size();
    for (const auto& call : calls) {
        CreateFunction(call.first);
    }
    const std::string added = daily_log::Contents().substr(before);
    bool whole = false;
    const std::vector<daily_log::FactoryLine> lines = daily_log::ParseFactoryLines(added, whole);
    EXPECT_TRUE(whole) << added;
    ASSERT_EQ(lines.size(), calls.size()) << added;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(lines[i].number, calls[i].second);
        EXPECT_EQ(lines[i].sourceFile, "EumFunction.cpp");
        EXPECT_GT(lines[i].sourceLine, 0);
        EXPECT_EQ(lines[i].sourceLine, lines[0].sourceLine);
        EXPECT_EQ(lines[i].threadId, static_cast<long>(gettid()));
        EXPECT_LT(lines[i].hour, 24);
        EXPECT_LT(lines[i].minute, 60);
        EXPECT_LT(lines[i].second, 61);
    }
}

// The one-argument RunProcess asks CreateFunction, so a step naming no
// command stops the chain there, after its log line.
TEST(RunProcessWithTheFactory, StopsAtAStepNamingNoCommand) {
    const size_t before = daily_log::Contents().size();
    EXPECT_EQ(RunProcess(u"ProcessNum{2}ProcessEntity-1{FunctionType[54]}ProcessCallBackName{cb}"),
              u"FunctionRes[-1]FunctionNotSucessAt[1]ProcessCallBackName[cb]");
    EXPECT_EQ(RunProcess(u"ProcessNum{1}"),
              u"FunctionRes[-1]FunctionNotSucessAt[1]ProcessCallBackName[]");
    bool whole = false;
    const auto lines = daily_log::ParseFactoryLines(daily_log::Contents().substr(before), whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].number, "54");
    EXPECT_EQ(lines[1].number, "0");
}

TEST(RunProcessWithTheFactory, AsksForNoCommandWithoutAStepCount) {
    const size_t before = daily_log::Contents().size();
    EXPECT_EQ(RunProcess(u"ProcessNum{0}ProcessEntity-1{FunctionType[10]}"),
              u"FunctionRes[-1]ProcessCallBackName[]");
    EXPECT_EQ(daily_log::Contents().size(), before);
}

}  // namespace
