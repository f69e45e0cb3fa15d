// The control wrappers against the recording module, loaded by bare name
// through LD_LIBRARY_PATH=lib/recording.
#include <gtest/gtest.h>

#include <vector>

#include "TestLibraries.h"
#include "controls/HostedControl.h"

namespace {

class HostedControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        main_.Reset();
        enrol_.Reset();
    }

    RecordingModule main_{"libulvoctrl.so"};
    RecordingModule enrol_{"libulvocertenroll.so"};
};

TEST_F(HostedControlTest, WrappersCreateTheirControlsByClassIdInTheirOwnModules) {
    ASSERT_TRUE(CUlvoctrlctrl::Instance().Create());
    ASSERT_TRUE(CUlvocertenrollctrl::Instance().Create());
    EXPECT_TRUE(CUlvoctrlctrl::Instance().IsCreated());

    CUlvoctrlctrl::Instance().InvokeNumber(10);
    CUlvocertenrollctrl::Instance().InvokeText(301);

    auto mainCalls = main_.Calls();
    auto enrolCalls = enrol_.Calls();
    ASSERT_EQ(mainCalls.size(), 1u);
    ASSERT_EQ(enrolCalls.size(), 1u);
    EXPECT_EQ(mainCalls[0].classId, "ulvo.ctrl");
    EXPECT_EQ(mainCalls[0].dispid, 10);
    EXPECT_EQ(enrolCalls[0].classId, "ulvo.certenroll");
    EXPECT_EQ(enrolCalls[0].dispid, 301);
}

TEST_F(HostedControlTest, CreateRunsOnceUntilRelease) {
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    main_.RefuseCreate(true);
    EXPECT_FALSE(control.Create());
    main_.RefuseCreate(false);
    EXPECT_FALSE(control.Create()) << "a second Create must report the first outcome";
    control.Release();
    EXPECT_TRUE(control.Create());
    EXPECT_TRUE(control.Create());
}

struct InvocationCase {
    const char* name;
    int32_t dispid;
    ReturnType returnType;
    std::vector<ControlArg> args;
    std::vector<RecordedArg> recorded;
};

void PrintTo(const InvocationCase& c, std::ostream* os) {
    *os << c.name;
}

class TypedInvocationTest : public HostedControlTest,
                            public ::testing::WithParamInterface<InvocationCase> {};

const char16_t kEmbeddedNul[] = u"a\0b";

const InvocationCase kInvocationCases[] = {
    {"NoArguments", 99, ReturnType::BSTR, {}, {}},
    {"TwoTexts", 34, ReturnType::BSTR, {u"seal", u"key"}, {Bstr(u"seal"), Bstr(u"key")}},
    {"TextAndUnsigned",
     33,
     ReturnType::BSTR,
     {u"data", uint32_t{4294967295u}},
     {Bstr(u"data"), Ui4(4294967295u)}},
    {"TextTextSigned",
     189,
     ReturnType::I4,
     {u"a", u"b", int32_t{-1}},
     {Bstr(u"a"), Bstr(u"b"), I4(-1)}},
    {"EmptyText", 151, ReturnType::BSTR, {u""}, {Bstr(u"")}},
    {"TextOutsideTheBmp", 6, ReturnType::I4, {u"\U0001F600\u4E2D"}, {Bstr(u"\U0001F600\u4E2D")}},
    {"EmbeddedNul",
     7,
     ReturnType::I4,
     {std::u16string_view(kEmbeddedNul, 3)},
     {Bstr(std::u16string(kEmbeddedNul, 3))}},
    {"ExtremeNumbers",
     4,
     ReturnType::I4,
     {int32_t{INT32_MIN}, int32_t{INT32_MAX}, uint32_t{0}},
     {I4(INT32_MIN), I4(INT32_MAX), Ui4(0)}},
};

TEST_P(TypedInvocationTest, RecordsDispidResultTypeAndArgumentsInOrder) {
    const InvocationCase& c = GetParam();
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());

    control.Invoke(c.dispid, c.returnType, c.args);

    auto calls = main_.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].dispid, c.dispid);
    EXPECT_EQ(calls[0].resultVt, c.returnType == ReturnType::I4 ? ZQT_VT_I4 : ZQT_VT_BSTR);
    EXPECT_EQ(calls[0].args, c.recorded);
}

INSTANTIATE_TEST_SUITE_P(Cases, TypedInvocationTest, ::testing::ValuesIn(kInvocationCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(HostedControlTest, CallsAreRecordedInTheOrderMade) {
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());
    control.InvokeText(3, {u"first"});
    control.InvokeNumber(1, {int32_t{2}});
    control.InvokeText(5);

    auto calls = main_.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].dispid, 3);
    EXPECT_EQ(calls[0].args, std::vector<RecordedArg>{Bstr(u"first")});
    EXPECT_EQ(calls[1].dispid, 1);
    EXPECT_EQ(calls[1].args, std::vector<RecordedArg>{I4(2)});
    EXPECT_EQ(calls[2].dispid, 5);
    EXPECT_TRUE(calls[2].args.empty());
}

TEST_F(HostedControlTest, ScriptedResultsComeBackWhole) {
    const std::u16string text = u"cert\U0001F600\u00E9" + std::u16string(1, u'\0') + u"tail";
    main_.Script(10, 0, -5);
    main_.Script(11, 0, 0, text);
    main_.Script(-1, 0, 42, u"any");
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());

    EXPECT_EQ(control.InvokeNumber(10), -5);
    EXPECT_EQ(control.InvokeText(11), text);
    EXPECT_EQ(control.InvokeNumber(12), 42);
    EXPECT_EQ(control.InvokeText(12), u"any");
}

TEST_F(HostedControlTest, UnscriptedCallsAnswerZeroAndEmpty) {
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());
    EXPECT_EQ(control.InvokeNumber(1), 0);
    EXPECT_EQ(control.InvokeText(2), u"");
}

TEST_F(HostedControlTest, FailingInvocationRaisesAndTheNextStillWorks) {
    main_.Script(20, 5, 0);
    main_.Script(21, 0, 3);
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());

    EXPECT_THROW(control.InvokeNumber(20), ControlInvocationError);
    EXPECT_THROW(control.InvokeText(20, {u"x"}), ControlInvocationError);
    EXPECT_EQ(control.InvokeNumber(21), 3);
    EXPECT_EQ(main_.Calls().size(), 3u);
}

TEST_F(HostedControlTest, RefusedCreationLeavesTextCallsEmptyAndNumberCallsFailing) {
    main_.RefuseCreate(true);
    main_.Script(-1, 0, 9, u"never");
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    EXPECT_FALSE(control.Create());
    EXPECT_FALSE(control.IsCreated());

    EXPECT_EQ(control.InvokeText(99), u"");
    EXPECT_THROW(control.InvokeNumber(1), ControlInvocationError);
    EXPECT_TRUE(main_.Calls().empty());
}

TEST_F(HostedControlTest, ReleaseTwiceIsHarmlessAndLeavesTheControlMissing) {
    main_.Script(-1, 0, 1, u"x");
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());
    control.Release();
    control.Release();
    EXPECT_FALSE(control.IsCreated());
    EXPECT_EQ(control.InvokeText(1), u"");
    EXPECT_THROW(control.InvokeNumber(1), ControlInvocationError);
    EXPECT_TRUE(main_.Calls().empty());
}

TEST_F(HostedControlTest, ResetForgetsCallsScriptsAndRefusal) {
    HostedControl control("libulvoctrl.so", "ulvo.ctrl");
    ASSERT_TRUE(control.Create());
    main_.Script(-1, 0, 8);
    control.InvokeNumber(1);
    main_.RefuseCreate(true);
    main_.Reset();

    EXPECT_TRUE(main_.Calls().empty());
    EXPECT_EQ(control.InvokeNumber(1), 0);
    HostedControl other("libulvoctrl.so", "ulvo.other");
    EXPECT_TRUE(other.Create());
}

}  // namespace
