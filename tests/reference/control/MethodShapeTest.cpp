// Every method is called as the host calls it: the right argument and
// result types run; any other shape is refused as a failed invocation.
#include <gtest/gtest.h>

#include "control/ControlHarness.h"

namespace {

struct Shape {
    int32_t dispid;
    const char* args;  // 'B' string, 'I' I4, 'U' UI4
    bool text;
    bool built;  // false: answers "not supported" (-3) for now
};

// The main control's methods with the types the command catalogue uses.
constexpr Shape kShapes[] = {
    {1, "I", false, true},
    {2, "BBBBBBB", false, true},
    {3, "IB", true, true},
    {4, "BB", false, true},
    {5, "BBBBBB", false, true},
    {6, "BB", true, true},
    {7, "BB", false, true},
    {8, "BB", true, true},
    {9, "B", false, true},
    {10, "BB", true, true},
    {11, "BBB", false, true},
    {14, "B", true, true},
    {15, "BBB", false, true},
    {21, "BBB", true, true},
    {22, "BBB", false, true},
    {23, "BBB", true, true},
    {24, "B", false, true},
    {25, "BBB", true, true},
    {26, "BBBB", false, true},
    {27, "BB", true, true},
    {28, "BBBB", false, true},
    {31, "", false, true},
    {32, "", true, true},
    {35, "", true, true},
    {36, "B", false, true},
    {37, "BB", false, true},
    {42, "B", false, true},
    {43, "", false, true},
    {49, "BB", true, true},
    {50, "BBB", true, true},
    {64, "BB", true, true},
    {74, "BB", true, true},
    {75, "BB", false, true},
    {76, "BB", true, true},
    {77, "B", false, true},
    {92, "BB", false, true},
    {94, "BBB", false, true},
    {96, "BB", true, true},
    {100, "BB", true, true},
    {124, "B", false, true},
    {125, "", true, true},
    {126, "B", false, true},
    {128, "BIB", true, true},
    {129, "BB", false, true},
    {159, "B", true, true},
    {176, "", true, true},
    // Envelopes, files, random data, seals and lists come later.
    {12, "BB", true, true},
    {13, "B", true, true},
    {16, "I", true, true},
    {19, "BBB", true, true},
    {20, "BB", false, true},
    {33, "BU", true, true},
    {34, "BB", true, true},
    {38, "BBB", true, true},
    {39, "B", true, true},
    {40, "BBBB", true, true},
    {41, "BB", false, true},
    {44, "I", true, true},
    {45, "BB", true, true},
    {46, "BB", true, true},
    {47, "BB", true, true},
    {48, "B", true, true},
    {52, "", false, true},
    {53, "", false, true},
    {54, "BB", true, true},
    {55, "BBB", true, true},
    {56, "", false, true},
    {57, "", false, true},
    {58, "B", true, true},
    {59, "BB", false, true},
    {60, "BB", true, true},
    {61, "B", true, true},
    {82, "B", true, true},
    {83, "BB", true, true},
    {98, "B", true, true},
    {99, "", true, true},
    {104, "B", true, true},
    {111, "BBB", false, true},
    {112, "BBB", false, true},
    {113, "BBB", false, true},
    {118, "BBB", false, true},
    {119, "BB", true, true},
    {121, "B", true, true},
    {148, "B", true, true},
    {149, "B", true, true},
    {150, "BB", false, true},
    {151, "B", true, true},
    {152, "BB", false, true},
    {153, "B", true, true},
    {189, "BBI", false, true},
    {190, "BI", true, true},
    {194, "BBB", true, true},
    {195, "BBB", false, true},
    {196, "", true, true},
    {199, "B", true, true},
};

std::vector<Arg> ArgsOf(const char* letters) {
    std::vector<Arg> args;
    for (const char* p = letters; *p != '\0'; ++p) {
        if (*p == 'B')
            args.emplace_back(std::string());
        if (*p == 'I')
            args.emplace_back(int32_t{0});
        if (*p == 'U')
            args.emplace_back(Ui4{0});
    }
    return args;
}

class MethodShapeTest : public ::testing::Test {
  protected:
    // No token, an empty store and a pinentry that cancels: nothing may sign.
    void SetUp() override {
        scope = std::make_unique<ControlScope>(false);
        scope->pinentry().Set(FakePinentry::Action::kCancel);
    }
    int32_t Call(int32_t dispid, const std::vector<Arg>& args, uint16_t vt) {
        int32_t number = 0;
        std::string text;
        return ControlModule::Shared().Invoke(scope->control(), dispid, args, vt, &number, &text);
    }
    std::unique_ptr<ControlScope> scope;
};

TEST_F(MethodShapeTest, EveryMethodRunsWithItsOwnShape) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.dispid);
        const std::vector<Arg> args = ArgsOf(shape.args);
        int32_t number = 12345;
        std::string text = "unset";
        ASSERT_EQ(
            ControlModule::Shared().Invoke(scope->control(), shape.dispid, args,
                                           shape.text ? ZQT_VT_BSTR : ZQT_VT_I4, &number, &text),
            0);
        if (!shape.built) {
            EXPECT_EQ(scope->LastCode(), -3);
            if (shape.text)
                EXPECT_EQ(text, "");
            else
                EXPECT_EQ(number, -3);
        }
    }
    EXPECT_EQ(scope->pinentry().PinPrompts(), 0) << "nothing here may use a private key";
}

TEST_F(MethodShapeTest, AnyOtherShapeIsAFailedInvocation) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(shape.dispid);
        const uint16_t vt = shape.text ? ZQT_VT_BSTR : ZQT_VT_I4;
        const uint16_t otherVt = shape.text ? ZQT_VT_I4 : ZQT_VT_BSTR;
        std::vector<Arg> args = ArgsOf(shape.args);
        EXPECT_NE(Call(shape.dispid, args, otherVt), 0) << "wrong result type";
        std::vector<Arg> longer = args;
        longer.emplace_back(std::string("extra"));
        EXPECT_NE(Call(shape.dispid, longer, vt), 0) << "one argument too many";
        if (!args.empty()) {
            std::vector<Arg> shorter(args.begin(), args.end() - 1);
            EXPECT_NE(Call(shape.dispid, shorter, vt), 0) << "one argument too few";
            std::vector<Arg> retyped = args;
            retyped[0] = std::holds_alternative<std::string>(args[0]) ? Arg(int32_t{1})
                                                                      : Arg(std::string("1"));
            EXPECT_NE(Call(shape.dispid, retyped, vt), 0) << "first argument of another type";
        }
    }
}

TEST_F(MethodShapeTest, UnknownDispatchIdsAreRefused) {
    for (int32_t dispid : {0, -1, 17, 18, 29, 30, 62, 200, 301, 4011}) {
        EXPECT_NE(Call(dispid, {}, ZQT_VT_BSTR), 0) << dispid;
        EXPECT_NE(Call(dispid, {}, ZQT_VT_I4), 0) << dispid;
    }
}

TEST(ModuleEntryTest, MakesOnlyTheMainControlAtItsVersion) {
    const ControlModule& module = ControlModule::Shared();
    EXPECT_EQ(module.AbiVersion(), ZQT_CONTROL_ABI_VERSION);
    EXPECT_EQ(module.Create("ulvo.certenroll"), nullptr);
    EXPECT_EQ(module.Create(""), nullptr);
    EXPECT_EQ(module.Create(nullptr), nullptr);
    zqt_control* control = module.Create("ulvo.ctrl");
    ASSERT_NE(control, nullptr);
    module.Destroy(control);
    std::string text;
    EXPECT_NE(module.Invoke(nullptr, 125, {}, ZQT_VT_BSTR, nullptr, &text), 0);
}

}  // namespace
