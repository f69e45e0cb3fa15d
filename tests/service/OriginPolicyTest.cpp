// The lines of a policy: first match wins, what happens when none does, and
// where a text that does not parse goes wrong.
#include "service/origin_policy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct DecisionCase {
    const char* name;
    const char* text;
    std::vector<std::pair<const char*, bool>> origins;  // null: no Origin header
};

class Decisions : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(Decisions, FollowTheLines) {
    std::optional<origin_policy::parse_error> error;
    const origin_policy policy = origin_policy::Parse(GetParam().text, error);
    ASSERT_FALSE(error) << error->line << ": " << error->reason;
    for (const auto& [origin, admitted] : GetParam().origins) {
        EXPECT_EQ(policy.Admits(origin), admitted) << (origin ? origin : "(none)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, Decisions,
    ::testing::Values(
        DecisionCase{
            "Empty", "# nothing said\n\n   \n", {{"https://any.example", true}, {nullptr, true}}},
        DecisionCase{"AllowListRefusesTheRest",
                     "allow https://bank.example\nallow https://*.shop.example\n",
                     {{"https://bank.example", true},
                      {"https://a.shop.example", true},
                      {"https://shop.example", false},
                      {"https://evil.example", false},
                      {nullptr, true}}},
        DecisionCase{"DenyListServesTheRest",
                     "deny https://evil.example\n",
                     {{"https://evil.example", false}, {"https://bank.example", true}}},
        DecisionCase{"FirstMatchWins",
                     "deny https://bad.shop.example\nallow https://*.shop.example\n"
                     "deny https://*.shop.example\n",
                     {{"https://bad.shop.example", false}, {"https://good.shop.example", true}}},
        DecisionCase{"DenyEverythingButOne",
                     "\t allow   https://bank.example  \r\ndeny *\n",
                     {{"https://bank.example", true}, {"null", false}, {nullptr, true}}},
        DecisionCase{"RequestsWithoutOriginCanBeRefused",
                     "deny none\n",
                     {{nullptr, false}, {"", false}, {"https://bank.example", true}}},
        DecisionCase{"AllowingNoneAloneIsNoAllowList",
                     "allow none\n",
                     {{nullptr, true}, {"https://bank.example", true}}},
        DecisionCase{"CommentsAndCrLf",
                     "# banks only\r\n\r\nallow https://bank.example\r\n  # end\r\n",
                     {{"https://bank.example", true}, {"https://evil.example", false}}}),
    [](const auto& c) { return std::string(c.param.name); });

struct BrokenCase {
    const char* name;
    std::string_view text;
    int line;
};

class Broken : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(Broken, NamesTheLineAndRefusesEverything) {
    std::optional<origin_policy::parse_error> error;
    const origin_policy policy = origin_policy::Parse(GetParam().text, error);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->line, GetParam().line);
    EXPECT_FALSE(error->reason.empty());
    EXPECT_FALSE(policy.Admits("https://bank.example"));
    EXPECT_FALSE(policy.Admits(nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Broken,
    ::testing::Values(
        BrokenCase{"UnknownWord", "allow https://a.example\nalow https://b.example\n", 2},
        BrokenCase{"NoPattern", "# c\n\ndeny\n", 3},
        BrokenCase{"TwoPatterns", "allow https://a.example https://b.example\n", 1},
        BrokenCase{"BadPattern", "allow https://a.example/\n", 1},
        BrokenCase{"NulByte", std::string_view("\nallow https://a.e\0xample\n", 26), 2},
        BrokenCase{"LastLineWithoutNewline", "allow https://a.example\n\ndeny", 3}),
    [](const auto& c) { return std::string(c.param.name); });

}  // namespace
