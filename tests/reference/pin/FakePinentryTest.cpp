// The test double other suites rely on: its log is exact, it can be
// emptied, a fresh one cancels, and rewriting it under a running client
// never yields half a program.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "pin/PinTestSupport.h"

namespace {

using pintest::PinEntryTest;
using pintest::Request;
using pintest::Settings;
using ref::PinStatus;

TEST_F(PinEntryTest, FakeLogsBackslashesAndSpacesVerbatim) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    ref::PinRequest request = Request("C:\\new\\table  two  spaces\\");
    request.title = "  lead and trail  ";
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), request).status, PinStatus::kOk);
    const std::vector<std::string> lines = fake_.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "SETTITLE   lead and trail  ");
    EXPECT_EQ(lines[1], "SETDESC C:\\new\\table  two  spaces\\");
}

TEST_F(PinEntryTest, FreshFakeCancels) {
    FakePinentry fresh(scratch_.file("fresh"));
    EXPECT_EQ(ref::AskPin(Settings(fresh.program()), Request()).status, PinStatus::kCancelled);
    EXPECT_EQ(fresh.PinPrompts(), 1);
}

TEST_F(PinEntryTest, FakeLogCanBeEmptied) {
    fake_.Set(FakePinentry::Action::kConfirm, "9");
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request()).status, PinStatus::kOk);
    ASSERT_EQ(ref::AskConfirm(Settings(fake_.program()), "t", "d").status, PinStatus::kOk);
    EXPECT_EQ(fake_.PinPrompts(), 1);
    EXPECT_EQ(fake_.Confirms(), 1);
    fake_.ClearLog();
    EXPECT_TRUE(fake_.Lines().empty());
    EXPECT_EQ(fake_.PinPrompts(), 0);
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request()).status, PinStatus::kOk);
    EXPECT_EQ(fake_.PinPrompts(), 1);
    EXPECT_EQ(fake_.Confirms(), 0);
}

TEST_F(PinEntryTest, FakeCanBeRewrittenWhileItRuns) {
    fake_.Set(FakePinentry::Action::kPin, "odd");
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            fake_.Set(FakePinentry::Action::kPin, i % 2 == 0 ? "even" : "odd");
        }
    });
    int ok = 0;
    for (int i = 0; i < 30; ++i) {
        const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
        EXPECT_EQ(answer.status, PinStatus::kOk) << answer.detail;
        const std::string pin(answer.pin.view());
        EXPECT_TRUE(pin == "even" || pin == "odd") << pin;
        ok += answer.status == PinStatus::kOk ? 1 : 0;
    }
    stop = true;
    writer.join();
    EXPECT_EQ(ok, 30);
    EXPECT_EQ(fake_.PinPrompts(), 30);
}

}  // namespace
