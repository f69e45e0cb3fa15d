// Origin patterns against origins, and the texts that are no pattern.
#include "service/origin_pattern.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct MatchCase {
    const char* pattern;
    const char* origin;  // null: no Origin header
    bool matches;
};

class PatternMatches : public ::testing::TestWithParam<MatchCase> {};

TEST_P(PatternMatches, AsTheTableSays) {
    const MatchCase& c = GetParam();
    const auto pattern = origin_pattern::Parse(c.pattern);
    ASSERT_TRUE(pattern) << c.pattern;
    EXPECT_EQ(pattern->Matches(c.origin), c.matches)
        << c.pattern << " against " << (c.origin ? c.origin : "(none)");
}

INSTANTIATE_TEST_SUITE_P(
    Table, PatternMatches,
    ::testing::Values(
        // Exact origins: scheme, host and port all count; case does not.
        MatchCase{"https://bank.example", "https://bank.example", true},
        MatchCase{"https://bank.example", "HTTPS://Bank.Example", true},
        MatchCase{"https://bank.example", "http://bank.example", false},
        MatchCase{"https://bank.example", "https://bank.example:8443", false},
        MatchCase{"https://bank.example", "https://bank.example.evil", false},
        MatchCase{"https://bank.example", "https://xbank.example", false},
        MatchCase{"https://bank.example", "https://bank.example/", false},
        MatchCase{"https://bank.example", nullptr, false},
        MatchCase{"https://bank.example", "", false},
        MatchCase{"http://127.0.0.1:8000", "http://127.0.0.1:8000", true},
        MatchCase{"http://127.0.0.1:8000", "http://127.0.0.1:8001", false},
        MatchCase{"http://[::1]:8000", "http://[::1]:8000", true},
        // Subdomains at any depth, never the domain itself.
        MatchCase{"https://*.example.com", "https://a.example.com", true},
        MatchCase{"https://*.example.com", "https://a.b.example.com", true},
        MatchCase{"https://*.example.com", "https://A.EXAMPLE.COM", true},
        MatchCase{"https://*.example.com", "https://example.com", false},
        MatchCase{"https://*.example.com", "https://.example.com", false},
        MatchCase{"https://*.example.com", "https://a..example.com", false},
        MatchCase{"https://*.example.com", "https://aexample.com", false},
        MatchCase{"https://*.example.com", "https://a.example.com.evil", false},
        MatchCase{"https://*.example.com", "http://a.example.com", false},
        MatchCase{"https://*.example.com", "https://a.example.com:444", false},
        MatchCase{"https://*.example.com", "https://a.example.com/x", false},
        MatchCase{"https://*.example.com", nullptr, false},
        MatchCase{"https://*.example.com:444", "https://a.example.com:444", true},
        MatchCase{"https://*.example.com:444", "https://a.example.com", false},
        // The words.
        MatchCase{"none", nullptr, true}, MatchCase{"none", "", true},
        MatchCase{"none", "https://bank.example", false},
        MatchCase{"*", "https://bank.example", true}, MatchCase{"*", "null", true},
        MatchCase{"*", nullptr, false}, MatchCase{"null", "null", true},
        MatchCase{"null", "https://null", false}));

class NotAPattern : public ::testing::TestWithParam<const char*> {};

TEST_P(NotAPattern, IsRefused) {
    EXPECT_FALSE(origin_pattern::Parse(GetParam())) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Texts, NotAPattern,
                         ::testing::Values("", "bank.example", "https://", "https://bank.example/",
                                           "https://bank.example/path", "https://bank..example",
                                           "https://.bank.example", "https://bank.example:",
                                           "https://bank.example:0", "https://bank.example:65536",
                                           "https://bank.example:8x", "https://*", "https://*.",
                                           "https://a.*.example", "https://*example.com",
                                           "1http://bank.example", "ht tp://bank.example",
                                           "https://ba_nk.example", "**", "None"));

}  // namespace
