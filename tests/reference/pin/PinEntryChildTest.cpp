// The child pinentry runs in: only the passed environment, an empty signal
// mask with the stop signals at their default, no descriptor of ours, the
// terminal chosen without a display; and the host's own state untouched.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "pin/PinTestSupport.h"

namespace {

using pintest::EnvGuard;
using pintest::PinEntryTest;
using pintest::ReadFile;
using pintest::Request;
using pintest::Settings;
using pintest::SplitLines;
using pintest::StatusName;
using pintest::WriteScript;
using ref::PinStatus;

// A script that records something about itself into `file`, then becomes
// the fake pinentry (same process, same environment and signal state).
std::string Probe(const std::string& path, const std::string& record, const FakePinentry& fake) {
    return WriteScript(path, record + "\nexec '" + fake.program() + "'\n");
}

TEST_F(PinEntryTest, OnlyTheSessionAndLocaleVariablesArePassed) {
    env_.Set("ZQT_SECRET_TEST", "leak");
    env_.Set("LD_PRELOAD", "/nonexistent/zqt.so");
    env_.Set("GNUPGHOME", "/tmp/nowhere");
    env_.Set("DISPLAY", ":42");
    env_.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/user/1000/bus");
    env_.Set("LC_TIME", "C.UTF-8");
    env_.Set("LC_ALL", "C");
    env_.Set("LANG", "de_DE.UTF-8");
    env_.Set("PATH", "/usr/bin:/bin");
    const std::string out = scratch_.file("env");
    fake_.Set(FakePinentry::Action::kPin, "1");
    const std::string program =
        Probe(scratch_.file("probe"), "tr '\\0' '\\n' < /proc/$$/environ > '" + out + "'", fake_);

    ASSERT_EQ(ref::AskPin(Settings(program), Request()).status, PinStatus::kOk);

    std::map<std::string, std::string> seen;
    for (const std::string& entry : SplitLines(ReadFile(out))) {
        seen[entry.substr(0, entry.find('='))] = entry.substr(entry.find('=') + 1);
    }
    const std::set<std::string> passed = {"DISPLAY",
                                          "WAYLAND_DISPLAY",
                                          "DBUS_SESSION_BUS_ADDRESS",
                                          "XAUTHORITY",
                                          "XDG_RUNTIME_DIR",
                                          "XDG_SESSION_TYPE",
                                          "HOME",
                                          "PATH",
                                          "TERM",
                                          "LANG",
                                          "LANGUAGE"};
    for (const auto& [name, value] : seen) {
        EXPECT_TRUE(passed.count(name) == 1 || name.rfind("LC_", 0) == 0) << name << " leaked";
    }
    EXPECT_EQ(seen.count("ZQT_SECRET_TEST"), 0u);
    EXPECT_EQ(seen["DISPLAY"], ":42");
    EXPECT_EQ(seen["DBUS_SESSION_BUS_ADDRESS"], "unix:path=/run/user/1000/bus");
    EXPECT_EQ(seen["LC_TIME"], "C.UTF-8");
    EXPECT_EQ(seen["LC_ALL"], "C");
    EXPECT_EQ(seen["LANG"], "de_DE.UTF-8");
    EXPECT_EQ(seen["PATH"], "/usr/bin:/bin");
}

// Restores the calling thread's mask and the dispositions it changed.
class SignalStateGuard {
  public:
    SignalStateGuard() { pthread_sigmask(SIG_SETMASK, nullptr, &mask_); }
    ~SignalStateGuard() {
        for (const auto& [signal, action] : actions_) {
            sigaction(signal, &action, nullptr);
        }
        pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
    }
    SignalStateGuard(const SignalStateGuard&) = delete;
    SignalStateGuard& operator=(const SignalStateGuard&) = delete;

    void Block(std::initializer_list<int> signals) {
        sigset_t set;
        sigemptyset(&set);
        for (int signal : signals) {
            sigaddset(&set, signal);
        }
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    void Handle(int signal, void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        struct sigaction old {};
        sigaction(signal, &action, &old);
        actions_.emplace(signal, old);
    }

  private:
    sigset_t mask_;
    std::map<int, struct sigaction> actions_;
};

unsigned long long StatusMask(const std::string& status, const std::string& field) {
    for (const std::string& line : SplitLines(status)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoull(line.substr(field.size() + 1), nullptr, 16);
        }
    }
    ADD_FAILURE() << field << " missing in " << status;
    return ~0ull;
}

TEST_F(PinEntryTest, ChildStartsWithAnEmptyMaskAndDefaultStopSignals) {
    SignalStateGuard signals;
    signals.Block({SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGCHLD});
    signals.Handle(SIGPIPE, SIG_IGN);
    signals.Handle(SIGHUP, SIG_IGN);
    signals.Handle(SIGINT, SIG_IGN);
    const std::string out = scratch_.file("status");
    fake_.Set(FakePinentry::Action::kPin, "1");
    const std::string program = Probe(scratch_.file("probe"),
                                      "while IFS= read -r l; do case $l in Sig*) printf '%s\\n' "
                                      "\"$l\";; esac; done < /proc/$$/status > '" +
                                          out + "'",
                                      fake_);

    ASSERT_EQ(ref::AskPin(Settings(program), Request()).status, PinStatus::kOk);

    const std::string status = ReadFile(out);
    EXPECT_EQ(StatusMask(status, "SigBlk"), 0ull) << status;
    const unsigned long long ignored = StatusMask(status, "SigIgn");
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) {
        EXPECT_EQ(ignored & (1ull << (signal - 1)), 0ull) << "signal " << signal << " ignored";
    }
    sigset_t now;
    pthread_sigmask(SIG_SETMASK, nullptr, &now);
    EXPECT_EQ(sigismember(&now, SIGTERM), 1) << "the caller's own mask was changed";
    EXPECT_EQ(sigismember(&now, SIGPIPE), 0) << "the caller's own mask was changed";
}

// With SIGCHLD ignored the kernel reaps the child itself; waiting for it
// must neither hang nor fail the prompt.
TEST_F(PinEntryTest, WorksWhenTheHostIgnoresSigchld) {
    SignalStateGuard signals;
    signals.Handle(SIGCHLD, SIG_IGN);
    fake_.Set(FakePinentry::Action::kPin, "4321");
    const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
    ASSERT_EQ(answer.status, PinStatus::kOk) << answer.detail;
    EXPECT_EQ(answer.pin.view(), "4321");
    fake_.Set(FakePinentry::Action::kCrash);
    EXPECT_EQ(ref::AskPin(Settings(fake_.program()), Request()).status, PinStatus::kUnavailable);
}

// SIGPIPE at its default would end this test binary if a write to a
// pinentry that stopped reading raised it.
TEST_F(PinEntryTest, WritingToAClosedPipeRaisesNoSignal) {
    SignalStateGuard signals;
    signals.Handle(SIGPIPE, SIG_DFL);
    const std::string program =
        WriteScript(scratch_.file("deaf"), "exec 0<&-\nprintf 'OK hello\\n'\nexec sleep 30\n");
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    EXPECT_EQ(answer.status, PinStatus::kUnavailable) << answer.detail;
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);
}

TEST_F(PinEntryTest, ChildGetsNoDescriptorButItsPipesAndDevNull) {
    const std::string canary = scratch_.file("canary");
    const int leaky = ::open(canary.c_str(), O_WRONLY | O_CREAT, 0600);  // no O_CLOEXEC
    ASSERT_GE(leaky, 0);
    const std::string out = scratch_.file("fds");
    fake_.Set(FakePinentry::Action::kPin, "1");
    // find, a child of the shell, lists the shell's descriptors; no redirection,
    // since dash would keep a saved copy of the descriptor it redirects.
    const std::string program =
        Probe(scratch_.file("probe"),
              "find /proc/$$/fd -mindepth 1 -fprintf '" + out + "' '%f %l\\n'", fake_);
    const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
    ::close(leaky);
    ASSERT_EQ(answer.status, PinStatus::kOk) << answer.detail;

    std::map<int, std::string> fds;
    for (const std::string& line : SplitLines(ReadFile(out))) {
        fds[std::stoi(line)] = line.substr(line.find(' ') + 1);
    }
    EXPECT_EQ(fds[0].rfind("pipe:", 0), 0u) << fds[0];
    EXPECT_EQ(fds[1].rfind("pipe:", 0), 0u) << fds[1];
    EXPECT_EQ(fds[2], "/dev/null");
    for (const auto& [fd, target] : fds) {
        if (fd > 2) {
            // The shell keeps its script open; nothing else may be there.
            EXPECT_EQ(target, program) << "descriptor " << fd << " leaked";
        }
    }
}

struct LeakCase {
    const char* name;
    FakePinentry::Action action;
    bool missing;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const LeakCase& row, std::ostream* out) {
    *out << row.name;
}

class NoLeak : public PinEntryTest, public ::testing::WithParamInterface<LeakCase> {};

TEST_P(NoLeak, EveryDescriptorIsClosed) {
    fake_.Set(GetParam().action, "1");
    const std::string program =
        GetParam().missing ? scratch_.file("no-such-program") : fake_.program();
    const int before = pintest::CountOpenFds();
    for (int i = 0; i < 3; ++i) {
        ref::AskPin(Settings(program), Request());
        ref::AskConfirm(Settings(program), "t", "d");
    }
    EXPECT_EQ(pintest::CountOpenFds(), before);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, NoLeak,
    ::testing::Values(LeakCase{"Pin", FakePinentry::Action::kPin, false},
                      LeakCase{"Cancel", FakePinentry::Action::kCancel, false},
                      LeakCase{"Timeout", FakePinentry::Action::kTimeout, false},
                      LeakCase{"Crash", FakePinentry::Action::kCrash, false},
                      LeakCase{"Missing", FakePinentry::Action::kPin, true}),
    [](const ::testing::TestParamInfo<LeakCase>& row) { return row.param.name; });

// In a child of its own session: no controlling terminal, standard streams
// on /dev/null, no display.
void DetachFromTerminal() {
    ::setsid();
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd : {0, 1, 2}) {
        ::dup2(null, fd);
    }
    if (null > 2) {
        ::close(null);
    }
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
}

// A service started with its standard streams closed gets pipes on 0 to 2;
// handing them to the child must not clobber one with another.
TEST_F(PinEntryTest, WorksWhenTheHostHasNoStandardStreams) {
    fake_.Set(FakePinentry::Action::kPin, "closed-std");
    const std::string result = pintest::InChild([&] {
        for (int fd : {0, 1, 2}) {
            ::close(fd);
        }
        const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
        return std::string(StatusName(answer.status)) + "|" + std::string(answer.pin.view());
    });
    EXPECT_EQ(result, "kOk|closed-std");
}

TEST_F(PinEntryTest, WithoutDisplayOrTerminalPinentryStillRunsAndIsUnavailable) {
    const std::string program = WriteScript(scratch_.file("curses"), R"(
printf 'OK hello\n'
while IFS= read -r line; do
    printf '%s\n' "$line" >> ')" + scratch_.file("log") + R"('
    case $line in
        GETPIN) printf 'ERR 83918950 Inappropriate ioctl for device <Pinentry>\n' ;;
        BYE) printf 'OK\n'; exit 0 ;;
        *) printf 'OK\n' ;;
    esac
done
)");
    const std::string result = pintest::InChild([&] {
        DetachFromTerminal();
        const ref::PinAnswer answer = ref::AskPin(Settings(program), Request());
        return std::string(StatusName(answer.status)) + "|" + answer.detail;
    });
    EXPECT_EQ(result.rfind("kUnavailable|no display or terminal", 0), 0u) << result;
    EXPECT_NE(result.find("Inappropriate ioctl"), std::string::npos) << result;
    const std::string log = ReadFile(scratch_.file("log"));
    EXPECT_NE(log.find("GETPIN"), std::string::npos) << "pinentry was not asked";
    EXPECT_EQ(log.find("OPTION ttyname"), std::string::npos) << log;
}

struct HeadlessCase {
    const char* name;
    FakePinentry::Action action;
    std::string result;  // status|start of the detail, or kOk|pin
};

void PrintTo(const HeadlessCase& row, std::ostream* out) {
    *out << row.name;
}

class Headless : public PinEntryTest, public ::testing::WithParamInterface<HeadlessCase> {};

// Nobody can have cancelled a prompt nobody could see; a PIN that came
// anyway (some other channel) is taken.
TEST_P(Headless, PinentryStillRuns) {
    fake_.Set(GetParam().action, "5678");
    const std::string result = pintest::InChild([&] {
        DetachFromTerminal();
        const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
        return std::string(StatusName(answer.status)) + "|" +
               (answer.status == PinStatus::kOk ? std::string(answer.pin.view()) : answer.detail);
    });
    EXPECT_EQ(result.substr(0, GetParam().result.size()), GetParam().result) << result;
    EXPECT_EQ(fake_.PinPrompts(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, Headless,
    ::testing::Values(HeadlessCase{"Pin", FakePinentry::Action::kPin, "kOk|5678"},
                      HeadlessCase{"Cancel", FakePinentry::Action::kCancel,
                                   "kUnavailable|no display or terminal for pinentry"},
                      HeadlessCase{"Timeout", FakePinentry::Action::kTimeout,
                                   "kUnavailable|no display or terminal for pinentry"},
                      HeadlessCase{"Crash", FakePinentry::Action::kCrash,
                                   "kUnavailable|no display or terminal for pinentry"}),
    [](const ::testing::TestParamInfo<HeadlessCase>& row) { return row.param.name; });

struct TtyCase {
    const char* name;
    bool onStdin;      // the pty is standard input; else only the controlling terminal
    const char* term;  // nullptr: unset
    const char* type;  // expected ttytype
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const TtyCase& row, std::ostream* out) {
    *out << row.name;
}

class TerminalPrompt : public PinEntryTest, public ::testing::WithParamInterface<TtyCase> {};

TEST_P(TerminalPrompt, NamesTheTerminalWithoutADisplay) {
    const TtyCase& c = GetParam();
    fake_.Set(FakePinentry::Action::kPin, "1");
    const std::string result = pintest::InChild([&]() -> std::string {
        DetachFromTerminal();
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        char name[256];
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
            ::ptsname_r(master, name, sizeof name) != 0) {
            return "no pty";
        }
        // A session leader without a terminal acquires the first it opens.
        const int slave = ::open(name, O_RDWR);
        if (slave < 0) {
            return "no pty";
        }
        if (c.onStdin) {
            ::dup2(slave, 0);
        }
        ::close(slave);
        if (c.term) {
            ::setenv("TERM", c.term, 1);
        } else {
            ::unsetenv("TERM");
        }
        const ref::PinAnswer answer = ref::AskPin(Settings(fake_.program()), Request());
        return std::string(StatusName(answer.status)) + "|" + (c.onStdin ? name : "/dev/tty");
    });
    if (result == "no pty") {
        GTEST_SKIP() << "no pseudo terminal here";
    }
    ASSERT_EQ(result.rfind("kOk|", 0), 0u) << result;
    const std::string tty = result.substr(4);
    const std::vector<std::string> lines = fake_.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[0], "OPTION ttyname=" + tty);
    EXPECT_EQ(lines[1], std::string("OPTION ttytype=") + c.type);
    EXPECT_EQ(lines[2], "SETTITLE zqtca");
}

INSTANTIATE_TEST_SUITE_P(Terminals, TerminalPrompt,
                         ::testing::Values(TtyCase{"StdinWithTerm", true, "xterm-zqt", "xterm-zqt"},
                                           TtyCase{"StdinWithoutTerm", true, nullptr, "dumb"},
                                           TtyCase{"ControllingOnly", false, "vt100", "vt100"}),
                         [](const ::testing::TestParamInfo<TtyCase>& row) {
                             return row.param.name;
                         });

TEST_F(PinEntryTest, ADisplaySendsNoTerminalOptions) {
    fake_.Set(FakePinentry::Action::kPin, "1");
    ASSERT_EQ(ref::AskPin(Settings(fake_.program()), Request()).status, PinStatus::kOk);
    for (const std::string& line : fake_.Lines()) {
        EXPECT_NE(line.rfind("OPTION", 0), 0u) << line;
    }
}

TEST_F(PinEntryTest, ThreadsPromptIndependently) {
    constexpr int kThreads = 4;
    std::vector<std::unique_ptr<FakePinentry>> fakes;
    for (int i = 0; i < kThreads; ++i) {
        fakes.push_back(std::make_unique<FakePinentry>(scratch_.file("t" + std::to_string(i))));
        fakes.back()->Set(FakePinentry::Action::kPin, "pin-" + std::to_string(i));
    }
    std::vector<std::string> got(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                const ref::PinAnswer answer = ref::AskPin(Settings(fakes[i]->program()), Request());
                got[i] += std::string(answer.pin.view()) + ";";
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        const std::string pin = "pin-" + std::to_string(i) + ";";
        EXPECT_EQ(got[i], pin + pin + pin);
        EXPECT_EQ(fakes[i]->PinPrompts(), 3);
    }
}

}  // namespace
