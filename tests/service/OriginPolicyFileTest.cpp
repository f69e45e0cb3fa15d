// The policy file: where it is looked for, no file, a broken one, and a
// change being picked up on the next request.
#include "service/origin_policy_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class PolicyFile : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/policy-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/origins.conf";
    }
    void TearDown() override {
        std::remove(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    void Write(const std::string& text) {
        // A new file each time, as editors save: a new inode is a change even
        // within one tick of the clock.
        const std::string fresh = path_ + ".new";
        std::ofstream(fresh, std::ios::binary) << text;
        ASSERT_EQ(std::rename(fresh.c_str(), path_.c_str()), 0);
    }

    std::string dir_;
    std::string path_;
};

TEST_F(PolicyFile, WithoutTheFileEveryOriginIsServed) {
    origin_policy_file policy(path_);
    EXPECT_TRUE(policy.Admits("https://any.example"));
    EXPECT_TRUE(policy.Admits(nullptr));
}

TEST_F(PolicyFile, FollowsTheFileAsItChanges) {
    origin_policy_file policy(path_);
    EXPECT_TRUE(policy.Admits("https://evil.example"));
    Write("allow https://bank.example\n");
    EXPECT_TRUE(policy.Admits("https://bank.example"));
    EXPECT_FALSE(policy.Admits("https://evil.example"));
    Write("deny https://bank.example\n");
    EXPECT_FALSE(policy.Admits("https://bank.example"));
    EXPECT_TRUE(policy.Admits("https://evil.example"));
    std::remove(path_.c_str());
    EXPECT_TRUE(policy.Admits("https://bank.example"));
}

TEST_F(PolicyFile, ABrokenFileRefusesEverythingUntilItIsFixed) {
    origin_policy_file policy(path_);
    Write("allow https://bank.example\nallow https://bank.example/\n");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(policy.Admits("https://bank.example"));
    EXPECT_FALSE(policy.Admits(nullptr));
    const std::string said = ::testing::internal::GetCapturedStderr();
    // Said once, with the file and its line.
    EXPECT_NE(said.find(path_ + ":2:"), std::string::npos) << said;
    EXPECT_EQ(said.find(path_ + ":2:"), said.rfind(path_ + ":2:")) << said;
    Write("allow https://bank.example\n");
    EXPECT_TRUE(policy.Admits("https://bank.example"));
}

TEST_F(PolicyFile, AFileThatCannotBeReadRefusesEverything) {
    ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);  // there, but no file to read
    origin_policy_file policy(path_);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(policy.Admits("https://bank.example"));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(path_), std::string::npos) << said;
    ::rmdir(path_.c_str());
    EXPECT_TRUE(policy.Admits("https://bank.example"));
}

// Requests from many connections ask while the file is being replaced; the
// sanitizer builds watch for races, and the last version is what holds.
TEST_F(PolicyFile, ManyThreadsAskWhileTheFileChanges) {
    origin_policy_file policy(path_);
    std::atomic<bool> stop{false};
    std::atomic<int> asked{0};
    std::vector<std::thread> askers;
    for (int i = 0; i < 4; ++i) {
        askers.emplace_back([&] {
            while (!stop.load()) {
                policy.Admits("https://bank.example");
                ++asked;
            }
        });
    }
    for (int i = 0; i < 50; ++i) {
        Write(i % 2 == 0 ? "deny https://bank.example\n" : "allow https://bank.example\n");
    }
    Write("deny https://bank.example\n");
    while (asked.load() < 100) {
        std::this_thread::yield();
    }
    stop.store(true);
    for (std::thread& t : askers) {
        t.join();
    }
    EXPECT_FALSE(policy.Admits("https://bank.example"));
}

struct LocationCase {
    const char* name;
    const char* xdg;  // null: unset
    const char* home;
    std::string expected;
};

class Location : public ::testing::TestWithParam<LocationCase> {
  protected:
    void SetUp() override {
        saveXdg_ = Saved("XDG_CONFIG_HOME");
        saveHome_ = Saved("HOME");
    }
    void TearDown() override {
        Restore("XDG_CONFIG_HOME", saveXdg_);
        Restore("HOME", saveHome_);
    }
    static std::string Saved(const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr ? std::string(1, '=') + v : std::string();
    }
    static void Restore(const char* name, const std::string& saved) {
        if (saved.empty()) {
            ::unsetenv(name);
        } else {
            ::setenv(name, saved.c_str() + 1, 1);
        }
    }
    std::string saveXdg_, saveHome_;
};

TEST_P(Location, FollowsTheXdgRule) {
    const LocationCase& c = GetParam();
    if (c.xdg == nullptr) {
        ::unsetenv("XDG_CONFIG_HOME");
    } else {
        ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
    }
    ::setenv("HOME", c.home, 1);
    EXPECT_EQ(origin_policy_file::DefaultPath(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Environment, Location,
    ::testing::Values(
        LocationCase{"Xdg", "/x/cfg", "/home/u", "/x/cfg/zqtca/origins.conf"},
        LocationCase{"Unset", nullptr, "/home/u", "/home/u/.config/zqtca/origins.conf"},
        LocationCase{"Empty", "", "/home/u", "/home/u/.config/zqtca/origins.conf"},
        LocationCase{"Relative", "cfg", "/home/u", "/home/u/.config/zqtca/origins.conf"}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
