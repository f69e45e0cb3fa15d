// How the client reads pinentry's answers: PINs unescaped, cancellation,
// timeouts, crashes, missing programs, programs that never answer, and
// answers that break the protocol.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "pin/PinTestSupport.h"

namespace {

using pintest::PinEntryTest;
using pintest::Request;
using pintest::Settings;
using pintest::StatusName;
using pintest::WriteScript;
using ref::PinStatus;

struct PinCase {
    const char* name;
    std::string pin;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const PinCase& row, std::ostream* out) {
    *out << row.name;
}

class RightPin : public PinEntryTest, public ::testing::WithParamInterface<PinCase> {};

TEST_P(RightPin, ComesBackUnescaped) {
    fake_.Set(FakePinentry::Action::kPin, GetParam().pin);
    const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
    ASSERT_EQ(answer.status, PinStatus::kOk) << answer.detail;
    EXPECT_EQ(answer.pin.view(), GetParam().pin);
    EXPECT_EQ(fake_.PinPrompts(), 1);
    EXPECT_EQ(fake_.Lines().back(), "BYE");
}

INSTANTIATE_TEST_SUITE_P(
    Pins, RightPin,
    ::testing::Values(PinCase{"Digits", "123456"}, PinCase{"PercentAndSpace", "12%34 56"},
                      PinCase{"EscapeLookalike", "%41%%2"}, PinCase{"NonAscii", "pässwörd €"},
                      PinCase{"Backslashes", "a\\b\\\\c\\n"}, PinCase{"Quotes", "it's \"x\""},
                      PinCase{"OuterSpaces", "  pad  "}, PinCase{"LineBreak", "one\ntwo\r"},
                      PinCase{"Long", std::string(900, 'x')}, PinCase{"Empty", ""}),
    [](const ::testing::TestParamInfo<PinCase>& row) { return row.param.name; });

TEST_F(PinEntryTest, DataLinesAreJoinedAndStatusAndCommentLinesSkipped) {
    const std::string program = WriteScript(scratch_.file("multi"), R"(
printf 'OK hello\n'
while IFS= read -r line; do
    case $line in
        GETPIN) printf '# a comment\nS PIN_REPEATED\nD %%C3%%BC%%0a\nS\nD b%%2\nD %%zz\nOK\n' ;;
        BYE) printf 'OK\n'; exit 0 ;;
        *) printf 'OK\n' ;;
    esac
done
)");
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    ASSERT_EQ(answer.status, PinStatus::kOk) << answer.detail;
    EXPECT_EQ(answer.pin.view(), "\xC3\xBC\nb%2%zz");
}

TEST_F(PinEntryTest, RepeatTakesTheDataPinentryChecked) {
    fake_.Set(FakePinentry::Action::kPin, "new password");
    ref::PinRequest request = Request();
    request.repeat = true;
    const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), request);
    ASSERT_EQ(answer.status, PinStatus::kOk) << answer.detail;
    EXPECT_EQ(answer.pin.view(), "new password");
}

struct FailureCase {
    const char* name;
    FakePinentry::Action action;
    bool confirm;  // AskConfirm instead of AskPin
    PinStatus status;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const FailureCase& row, std::ostream* out) {
    *out << row.name;
}

class FakeFailure : public PinEntryTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FakeFailure, IsReportedWithoutAPin) {
    const FailureCase& c = GetParam();
    fake_.Set(c.action, "must-not-leak");
    const ref::PinAnswer answer =
        c.confirm ? ref::AskConfirm(Settings(fake_.program()), "zqtca", "Import CN=x?")
                  : ref::AskPin(Settings(fake_.program()), Request());
    EXPECT_EQ(answer.status, c.status) << StatusName(answer.status) << ": " << answer.detail;
    EXPECT_TRUE(answer.pin.empty());
    EXPECT_FALSE(answer.detail.empty());
    EXPECT_EQ(answer.detail.find("must-not-leak"), std::string::npos);
    EXPECT_EQ(c.confirm ? fake_.Confirms() : fake_.PinPrompts(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, FakeFailure,
    ::testing::Values(
        FailureCase{"Cancel", FakePinentry::Action::kCancel, false, PinStatus::kCancelled},
        FailureCase{"Timeout", FakePinentry::Action::kTimeout, false, PinStatus::kCancelled},
        FailureCase{"Crash", FakePinentry::Action::kCrash, false, PinStatus::kUnavailable},
        FailureCase{"ConfirmDeclined", FakePinentry::Action::kDecline, true, PinStatus::kCancelled},
        FailureCase{"ConfirmCancelled", FakePinentry::Action::kCancel, true, PinStatus::kCancelled},
        FailureCase{"ConfirmCrash", FakePinentry::Action::kCrash, true, PinStatus::kUnavailable}),
    [](const ::testing::TestParamInfo<FailureCase>& row) { return row.param.name; });

TEST_F(PinEntryTest, ConfirmAcceptedAsksNoPin) {
    fake_.Set(FakePinentry::Action::kConfirm);
    const ref::PinAnswer answer =
        ref::AskConfirm(Settings(fake_.program()), "zqtca", "Import the certificate?");
    EXPECT_EQ(answer.status, PinStatus::kOk) << answer.detail;
    EXPECT_TRUE(answer.pin.empty());
    EXPECT_EQ(fake_.Confirms(), 1);
    EXPECT_EQ(fake_.PinPrompts(), 0);
}

struct ErrCase {
    const char* name;
    std::string err;
    PinStatus status;
    std::string inDetail;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ErrCase& row, std::ostream* out) {
    *out << row.name;
}

class ErrAnswer : public PinEntryTest, public ::testing::WithParamInterface<ErrCase> {};

TEST_P(ErrAnswer, MapsToItsStatus) {
    const std::string program = WriteScript(scratch_.file("err"), R"(
printf 'OK hello\n'
while IFS= read -r line; do
    case $line in
        GETPIN) printf 'D half-typed\n'; printf '%s\n' ")" + GetParam().err +
                                                                      R"(" ;;
        BYE) printf 'OK\n'; exit 0 ;;
        *) printf 'OK\n' ;;
    esac
done
)");
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    EXPECT_EQ(answer.status, GetParam().status) << answer.detail;
    EXPECT_TRUE(answer.pin.empty());
    EXPECT_NE(answer.detail.find(GetParam().inDetail), std::string::npos) << answer.detail;
    EXPECT_EQ(answer.detail.find("half-typed"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrAnswer,
    ::testing::Values(ErrCase{"Cancelled", "ERR 83886179 Operation cancelled <Pinentry>",
                              PinStatus::kCancelled, "cancelled"},
                      ErrCase{"Timeout", "ERR 83886142 Timeout <Pinentry>", PinStatus::kCancelled,
                              "timed out"},
                      ErrCase{"NotConfirmed", "ERR 83886194 Not confirmed <Pinentry>",
                              PinStatus::kCancelled, "not confirmed"},
                      ErrCase{"NoTty", "ERR 83918950 Inappropriate ioctl for device <Pinentry>",
                              PinStatus::kUnavailable, "Inappropriate ioctl for device"},
                      ErrCase{"NoCode", "ERR", PinStatus::kUnavailable, "ERR 0"}),
    [](const ::testing::TestParamInfo<ErrCase>& row) { return row.param.name; });

struct BrokenCase {
    const char* name;
    std::string body;  // the script after "#!/bin/sh"
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BrokenCase& row, std::ostream* out) {
    *out << row.name;
}

class BrokenProgram : public PinEntryTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenProgram, IsUnavailable) {
    const std::string program = WriteScript(scratch_.file("broken"), GetParam().body);
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    EXPECT_EQ(answer.status, PinStatus::kUnavailable) << answer.detail;
    EXPECT_TRUE(answer.pin.empty());
    EXPECT_EQ(answer.detail.find("secret-ish"), std::string::npos) << answer.detail;
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, BrokenProgram,
    ::testing::Values(BrokenCase{"ExitsAtOnce", "exit 0\n"},
                      BrokenCase{"GreetsWithErr", "printf 'ERR 1 go away\\n'\nexit 0\n"},
                      BrokenCase{"GarbageGreeting", "printf 'HELLO\\n'\nsleep 30\n"},
                      BrokenCase{"DataThenDies",
                                 "printf 'OK\\n'\nwhile read -r l; do case $l in "
                                 "GETPIN) printf 'D secret-ish\\n'; exit 3;; *) printf "
                                 "'OK\\n';; esac; done\n"},
                      BrokenCase{"UnexpectedAnswer",
                                 "printf 'OK\\n'\nwhile read -r l; do case $l in "
                                 "GETPIN) printf 'Dsecret-ish\\n';; *) printf "
                                 "'OK\\n';; esac; done\n"},
                      BrokenCase{"OverlongLine",
                                 "printf 'OK\\n'\nread -r l\n"
                                 "head -c 10000 /dev/zero | tr '\\0' 'a'\nexec sleep 30\n"},
                      BrokenCase{"StopsReading", "exec 0<&-\nprintf 'OK\\n'\nexec sleep 30\n"},
                      BrokenCase{"AnswerTooLong",
                                 "printf 'OK\\n'\nwhile read -r l; do case $l in "
                                 "GETPIN) for i in 1 2 3; do printf 'D %0900d\\n' 0; done; "
                                 "printf 'OK\\n';; *) printf 'OK\\n';; esac; done\n"},
                      BrokenCase{"SetupRefused",
                                 "printf 'OK\\n'\nwhile read -r l; do case $l in "
                                 "SETDESC*) printf 'ERR 536871187 Unknown command\\n';; "
                                 "GETPIN) printf 'D secret-ish\\nOK\\n';; *) printf "
                                 "'OK\\n';; esac; done\n"}),
    [](const ::testing::TestParamInfo<BrokenCase>& row) { return row.param.name; });

struct BadProgramCase {
    const char* name;
    const char* program;  // relative to the scratch folder unless absolute or empty
    bool create;
    mode_t mode;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const BadProgramCase& row, std::ostream* out) {
    *out << row.name;
}

class BadProgram : public PinEntryTest, public ::testing::WithParamInterface<BadProgramCase> {};

TEST_P(BadProgram, IsUnavailable) {
    const BadProgramCase& c = GetParam();
    std::string program = c.program;
    if (!program.empty() && program.front() != '/' && program != "relative") {
        program = scratch_.file(program);
    }
    if (c.create) {
        WriteScript(program, "printf 'OK\\n'\nexit 0\n");
        ::chmod(program.c_str(), c.mode);
    }
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    EXPECT_EQ(answer.status, PinStatus::kUnavailable) << answer.detail;
    EXPECT_FALSE(answer.detail.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Programs, BadProgram,
    ::testing::Values(BadProgramCase{"Missing", "no-such-pinentry", false, 0},
                      BadProgramCase{"NotExecutable", "plain-file", true, 0644},
                      BadProgramCase{"Directory", "/", false, 0},
                      BadProgramCase{"Relative", "relative", false, 0},
                      BadProgramCase{"Unset", "", false, 0}),
    [](const ::testing::TestParamInfo<BadProgramCase>& row) { return row.param.name; });

// pinentry ignoring its own timeout must not hold us past our deadline: the
// child is killed and reaped, and the prompt counts as timed out.
TEST_F(PinEntryTest, ProgramThatNeverAnswersIsKilledAtTheDeadline) {
    const std::string pidFile = scratch_.file("pid");
    const std::string program = WriteScript(scratch_.file("silent"), R"(
printf '%s\n' $$ > ')" + pidFile + R"('
printf 'OK hello\n'
while IFS= read -r line; do
    case $line in
        GETPIN) exec sleep 600 ;;
        *) printf 'OK\n' ;;
    esac
done
)");
    const ref::PinAnswer answer = ref::AskPin(Settings(program, 1), Request());
    EXPECT_EQ(answer.status, PinStatus::kCancelled);
    EXPECT_EQ(answer.detail, "timed out");
    const pid_t pid = std::stoi(pintest::ReadFile(pidFile));
    EXPECT_EQ(::kill(pid, 0), -1) << "the child is still there (or a zombie)";
    EXPECT_EQ(errno, ESRCH);
}

}  // namespace
