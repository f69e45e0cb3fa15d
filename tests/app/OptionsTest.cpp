#include <gtest/gtest.h>

#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLineAction.h"
#include "app/Options.h"

namespace {

using zqt::CommandAction;

struct ParseCase {
    const char* label;
    std::vector<std::string> args;
    CommandAction action;
    std::string certDir;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.label;
}

class ParseCommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, GivesTheAction) {
    const ParseCase& c = GetParam();
    const zqt::CommandLine line = zqt::ParseCommandLine(c.args);
    EXPECT_EQ(line.action, c.action);
    EXPECT_EQ(line.certDir, c.certDir);
    EXPECT_EQ(line.problem.empty(), c.action != CommandAction::UsageError);
}

const ParseCase kParseCases[] = {
    {"NoArguments", {}, CommandAction::Serve, ""},
    {"Help", {"--help"}, CommandAction::Help, ""},
    {"Version", {"--version"}, CommandAction::Version, ""},
    {"MakeCert", {"--make-cert", "/tmp/certs"}, CommandAction::MakeCert, "/tmp/certs"},
    {"MakeCertRelative", {"--make-cert", "."}, CommandAction::MakeCert, "."},
    {"MakeCertDashDir", {"--make-cert", "-d"}, CommandAction::MakeCert, "-d"},
    {"MakeCertMissingDir", {"--make-cert"}, CommandAction::UsageError, ""},
    {"MakeCertEmptyDir", {"--make-cert", ""}, CommandAction::UsageError, ""},
    {"MakeCertExtra", {"--make-cert", "a", "b"}, CommandAction::UsageError, ""},
    {"TrustCertDefault", {"--trust-cert"}, CommandAction::TrustCert, ""},
    {"TrustCertDir",
     {"--trust-cert", "var/ZQTService"},
     CommandAction::TrustCert,
     "var/ZQTService"},
    {"TrustCertEmptyDir", {"--trust-cert", ""}, CommandAction::UsageError, ""},
    {"TrustCertExtra", {"--trust-cert", "a", "b"}, CommandAction::UsageError, ""},
    {"UntrustCert", {"--untrust-cert"}, CommandAction::UntrustCert, ""},
    {"UntrustCertExtra", {"--untrust-cert", "dir"}, CommandAction::UsageError, ""},
    {"TrustCertWithValue", {"--trust-cert=dir"}, CommandAction::UsageError, ""},
    {"HelpExtra", {"--help", "x"}, CommandAction::UsageError, ""},
    {"VersionExtra", {"--version", "--help"}, CommandAction::UsageError, ""},
    {"Unknown", {"--serve"}, CommandAction::UsageError, ""},
    {"ShortHelp", {"-h"}, CommandAction::UsageError, ""},
    {"UpperCase", {"--HELP"}, CommandAction::UsageError, ""},
    {"HelpWithValue", {"--help=1"}, CommandAction::UsageError, ""},
    {"Positional", {"serve"}, CommandAction::UsageError, ""},
    {"EmptyArgument", {""}, CommandAction::UsageError, ""},
    {"DoubleDash", {"--"}, CommandAction::UsageError, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ParseCommandLineTest, ::testing::ValuesIn(kParseCases),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(ParseCommandLineArgv, SkipsTheProgramName) {
    const char* argv[] = {"zqtca-service", "--make-cert", "dir", nullptr};
    const zqt::CommandLine line = zqt::ParseCommandLine(3, argv);
    EXPECT_EQ(line.action, CommandAction::MakeCert);
    EXPECT_EQ(line.certDir, "dir");

    const char* alone[] = {"zqtca-service", nullptr};
    EXPECT_EQ(zqt::ParseCommandLine(1, alone).action, CommandAction::Serve);
}

TEST(ParseCommandLineArgv, ProblemNamesTheOffendingArgument) {
    EXPECT_NE(zqt::ParseCommandLine({"--frobnicate"}).problem.find("--frobnicate"),
              std::string::npos);
    EXPECT_NE(zqt::ParseCommandLine({"--help", "extra"}).problem.find("extra"), std::string::npos);
}

struct ActionCase {
    const char* label;
    std::vector<std::string> args;
    int status;
    bool usageOnOut;
    bool usageOnErr;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const ActionCase& c, std::ostream* os) {
    *os << c.label;
}

class RunCommandLineActionTest : public ::testing::TestWithParam<ActionCase> {};

TEST_P(RunCommandLineActionTest, PrintsAndGivesTheStatus) {
    const ActionCase& c = GetParam();
    std::ostringstream out;
    std::ostringstream err;
    const auto status = zqt::RunCommandLineAction(zqt::ParseCommandLine(c.args), out, err);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, c.status);
    EXPECT_EQ(out.str().find(zqt::UsageText()) != std::string::npos, c.usageOnOut);
    EXPECT_EQ(err.str().find(zqt::UsageText()) != std::string::npos, c.usageOnErr);
    if (c.usageOnErr) {
        EXPECT_TRUE(out.str().empty());
    }
}

const ActionCase kActionCases[] = {
    {"Help", {"--help"}, 0, true, false},
    {"Unknown", {"--nope"}, 2, false, true},
    {"MissingDir", {"--make-cert"}, 2, false, true},
    {"Extra", {"--version", "x"}, 2, false, true},
    {"UntrustExtra", {"--untrust-cert", "x"}, 2, false, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, RunCommandLineActionTest, ::testing::ValuesIn(kActionCases),
                         [](const auto& row) { return std::string(row.param.label); });

TEST(RunCommandLineAction, VersionPrintsTheAboutText) {
    std::ostringstream out;
    std::ostringstream err;
    const auto status = zqt::RunCommandLineAction(zqt::ParseCommandLine({"--version"}), out, err);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    // The full-width comma is U+FF0C, written as UTF-8.
    EXPECT_EQ(out.str(),
              "ZQTCAServiceClient\xEF\xBC\x8C"
              "1.0 \xE7\x89\x88\n");
    EXPECT_TRUE(err.str().empty());
}

TEST(RunCommandLineAction, ServeLeavesTheProcessRunning) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_FALSE(zqt::RunCommandLineAction(zqt::ParseCommandLine({}), out, err).has_value());
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(err.str().empty());
}

TEST(RunCommandLineAction, MakeCertIntoAMissingDirectoryFails) {
    std::ostringstream out;
    std::ostringstream err;
    const auto status = zqt::RunCommandLineAction(
        zqt::ParseCommandLine({"--make-cert", "/nonexistent/zqt-app-test"}), out, err);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 1);
    EXPECT_NE(err.str().find("/nonexistent/zqt-app-test"), std::string::npos);
    EXPECT_TRUE(out.str().empty());
}

}  // namespace
