// Loading, checking and unloading of control modules, with the probe module
// opened by its path in lib/probe and lib/probe-badabi.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "TestLibraries.h"
#include "controls/HostedControl.h"

namespace {

const std::string kProbe = TestLibrary("probe/libprobectrl.so");
const std::string kProbeBadAbi = TestLibrary("probe-badabi/libprobectrl.so");

struct ProbeCounters {
    explicit ProbeCounters(const std::string& file) : library(file) {}
    uint32_t Created() const { return Read("zqt_probe_created"); }
    uint32_t Destroyed() const { return Read("zqt_probe_destroyed"); }
    uint32_t ForeignDestroys() const { return Read("zqt_probe_foreign_destroys"); }

    uint32_t Read(const char* name) const {
        return reinterpret_cast<uint32_t (*)()>(library.Symbol(name))();
    }
    HeldLibrary library;
};

TEST(ModuleLifecycleTest, EachControlIsDestroyedExactlyOnce) {
    ProbeCounters probe(kProbe);
    {
        HostedControl control(kProbe.c_str(), "probe.ok");
        ASSERT_TRUE(control.Create());
        EXPECT_EQ(probe.Created(), 1u);
        EXPECT_EQ(control.InvokeText(1), u"ok");
        EXPECT_EQ(control.InvokeNumber(1), 7);
        control.Release();
        control.Release();
        EXPECT_EQ(probe.Destroyed(), 1u);
    }
    {
        HostedControl control(kProbe.c_str(), "probe.ok");
        ASSERT_TRUE(control.Create());
    }  // the destructor releases what Release did not
    EXPECT_EQ(probe.Created(), 2u);
    EXPECT_EQ(probe.Destroyed(), 2u);
    EXPECT_EQ(probe.ForeignDestroys(), 0u);
}

TEST(ModuleLifecycleTest, ModuleIsUnloadedAfterItsControlOnRelease) {
    HostedControl control(kProbe.c_str(), "probe.ok");
    ASSERT_FALSE(IsLoaded(kProbe));
    ASSERT_TRUE(control.Create());
    EXPECT_TRUE(IsLoaded(kProbe));
    control.Release();  // destroying after dlclose would crash here
    EXPECT_FALSE(IsLoaded(kProbe));
}

TEST(ModuleLifecycleTest, WrongAbiVersionIsNeitherUsedNorKept) {
    {
        ProbeCounters probe(kProbeBadAbi);
        HostedControl control(kProbeBadAbi.c_str(), "probe.ok");
        EXPECT_FALSE(control.Create());
        EXPECT_EQ(probe.Created(), 0u);
        EXPECT_EQ(control.InvokeText(1), u"");
        EXPECT_THROW(control.InvokeNumber(1), ControlInvocationError);
    }
    HostedControl control(kProbeBadAbi.c_str(), "probe.ok");
    EXPECT_FALSE(control.Create());
    EXPECT_FALSE(IsLoaded(kProbeBadAbi));
}

TEST(ModuleLifecycleTest, MissingModuleLeavesTheControlMissing) {
    HostedControl control("libzqt-no-such-module.so", "ulvo.ctrl");
    EXPECT_FALSE(control.Create());
    EXPECT_EQ(control.InvokeText(1, {u"x"}), u"");
    EXPECT_THROW(control.InvokeNumber(1), ControlInvocationError);
}

struct MisbehaviourCase {
    const char* classId;
    ReturnType returnType;
    bool fails;
};

void PrintTo(const MisbehaviourCase& c, std::ostream* os) {
    *os << c.classId << (c.returnType == ReturnType::I4 ? " I4" : " BSTR");
}

class MisbehavingModuleTest : public ::testing::TestWithParam<MisbehaviourCase> {};

TEST_P(MisbehavingModuleTest, AnswerThatBreaksTheInterfaceIsAnInvocationFailure) {
    const MisbehaviourCase& c = GetParam();
    HostedControl control(kProbe.c_str(), c.classId);
    ASSERT_TRUE(control.Create());
    if (c.fails) {
        EXPECT_THROW(control.Invoke(1, c.returnType, {}), ControlInvocationError);
    } else {
        EXPECT_NO_THROW(control.Invoke(1, c.returnType, {}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MisbehavingModuleTest,
    ::testing::Values(MisbehaviourCase{"probe.wrong-type", ReturnType::I4, true},
                      MisbehaviourCase{"probe.wrong-type", ReturnType::BSTR, true},
                      MisbehaviourCase{"probe.null-string", ReturnType::BSTR, true},
                      MisbehaviourCase{"probe.null-string", ReturnType::I4, false},
                      MisbehaviourCase{"probe.ok", ReturnType::BSTR, false}));

TEST(ModuleLifecycleTest, InvocationsRacingReleaseAndCreateStaySound) {
    ProbeCounters probe(kProbe);
    HostedControl control(kProbe.c_str(), "probe.ok");
    ASSERT_TRUE(control.Create());
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&] {
            while (!stop) {
                std::u16string text = control.InvokeText(1);
                if (text != u"ok" && !text.empty()) {
                    ++unexpected;
                }
            }
        });
    }
    for (int cycle = 0; cycle < 200; ++cycle) {
        control.Release();
        control.Create();
    }
    stop = true;
    for (auto& caller : callers) {
        caller.join();
    }
    control.Release();
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(probe.Created(), probe.Destroyed());
    EXPECT_EQ(probe.ForeignDestroys(), 0u);
}

}  // namespace
