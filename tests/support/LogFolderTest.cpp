#include "support/LogFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

// A temporary directory of the given length with its trailing "/".
std::string DirOfLength(size_t length) {
    std::string dir = "/";
    dir += std::string(length - 2, 'd');
    return dir + "/";
}

struct FolderCase {
    const char* name;
    std::optional<std::string> tmpdir;
    std::string expected;  // empty: does not fit
};

class LogFolder : public testing::TestWithParam<FolderCase> {
  protected:
    void SetUp() override {
        if (const char* saved = std::getenv("TMPDIR")) {
            m_saved = saved;
        }
    }
    void TearDown() override {
        if (m_saved) {
            setenv("TMPDIR", m_saved->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }

  private:
    std::optional<std::string> m_saved;
};

TEST_P(LogFolder, FromTmpdir) {
    const FolderCase& c = GetParam();
    if (c.tmpdir) {
        setenv("TMPDIR", c.tmpdir->c_str(), 1);
    } else {
        unsetenv("TMPDIR");
    }
    char buffer[300];
    std::memset(buffer, 0x55, sizeof buffer);
    const bool fits = zqt::BuildLogFolder(buffer, 260);
    EXPECT_EQ(fits, !c.expected.empty());
    EXPECT_EQ(std::string(buffer), c.expected);
    for (size_t k = 260; k < sizeof buffer; ++k) {
        ASSERT_EQ(buffer[k], 0x55) << "written past the buffer at " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Logger, LogFolder,
    testing::Values(FolderCase{"Unset", std::nullopt, "/tmp/ZQTCA/"},
                    FolderCase{"Empty", "", "/tmp/ZQTCA/"},
                    FolderCase{"Relative", "scratch/tmp", "/tmp/ZQTCA/"},
                    FolderCase{"Absolute", "/var/tmp", "/var/tmp/ZQTCA/"},
                    FolderCase{"TrailingSlash", "/var/tmp/", "/var/tmp/ZQTCA/"},
                    FolderCase{"Root", "/", "/ZQTCA/"},
                    // 253 + "ZQTCA/" + terminator is exactly 260 bytes.
                    FolderCase{"LongestThatFits", DirOfLength(253), DirOfLength(253) + "ZQTCA/"},
                    FolderCase{"OneTooLong", DirOfLength(254), ""},
                    FolderCase{"FarTooLong", DirOfLength(4000), ""}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
