// The null control module, which benchmarks put behind the service: through
// the wrappers the service uses (LD_LIBRARY_PATH=lib/null) every method
// answers "0" or 0, whatever its dispatch id and arguments.
#include <gtest/gtest.h>

#include <vector>

#include "TestLibraries.h"
#include "controls/HostedControl.h"

namespace {

struct NullCase {
    const char* name;
    int32_t dispid;
    std::vector<ControlArg> args;
};

void PrintTo(const NullCase& c, std::ostream* os) {
    *os << c.name;
}

const NullCase kCases[] = {
    {"NoArguments", 99, {}},
    {"TwoTexts", 34, {u"seal", u"key"}},
    {"TextAndUnsigned", 33, {u"data", uint32_t{4294967295u}}},
    {"TextTextSigned", 189, {u"a", u"b", int32_t{-1}}},
    {"EnrolmentRange", 301, {u""}},
    {"NegativeDispid", -5, {}},
};

class NullModuleTest : public ::testing::TestWithParam<NullCase> {};

template <typename Wrapper>
void ExpectZeroAnswers(Wrapper& wrapper, const NullCase& c) {
    ASSERT_TRUE(wrapper.Create());
    EXPECT_EQ(std::get<std::u16string>(wrapper.Invoke(c.dispid, ReturnType::BSTR, c.args)), u"0");
    EXPECT_EQ(std::get<int32_t>(wrapper.Invoke(c.dispid, ReturnType::I4, c.args)), 0);
}

TEST_P(NullModuleTest, MainControlAnswersZero) {
    ExpectZeroAnswers(CUlvoctrlctrl::Instance(), GetParam());
}

TEST_P(NullModuleTest, EnrolmentControlAnswersZero) {
    ExpectZeroAnswers(CUlvocertenrollctrl::Instance(), GetParam());
}

INSTANTIATE_TEST_SUITE_P(Dispids, NullModuleTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// The null module has no zqt_control_set_caller: telling it the caller is
// harmless and it answers as before.
TEST(NullModuleLoadTest, AModuleWithoutTheCallerExportKeepsWorking) {
    ASSERT_TRUE(CUlvoctrlctrl::Instance().Create());
    CUlvoctrlctrl::Instance().SetCaller(u"https://bank.example");
    EXPECT_EQ(CUlvoctrlctrl::Instance().InvokeText(10, {u"a"}), u"0");
}

TEST(NullModuleLoadTest, BothControlsComeFromTheNullModule) {
    ASSERT_TRUE(CUlvoctrlctrl::Instance().Create());
    ASSERT_TRUE(CUlvocertenrollctrl::Instance().Create());
    EXPECT_TRUE(IsLoaded(TestLibrary("null/libulvoctrl.so")));
    EXPECT_TRUE(IsLoaded(TestLibrary("null/libulvocertenroll.so")));
    EXPECT_FALSE(IsLoaded(TestLibrary("recording/libulvoctrl.so")));
}

}  // namespace
