// The audit line: its fields, and that a page's origin cannot break it.
#include "service/audit_line.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <string>

namespace {

class AuditLineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz != nullptr ? std::string("=") + tz : "";
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    void TearDown() override {
        if (savedTz_.empty()) {
            ::unsetenv("TZ");
        } else {
            ::setenv("TZ", savedTz_.c_str() + 1, 1);
        }
        ::tzset();
    }
    std::string savedTz_;
};

// 2026-12-10 08:40:00 UTC.
constexpr std::time_t kWhen = 1796892000;

TEST_F(AuditLineTest, NamesTimeOriginTransportCommandsAndOutcome) {
    RunSummary ran;
    ran.functionTypes = {10, 11, 4011};
    ran.succeeded = true;
    EXPECT_EQ(AuditLine(kWhen, request_caller{"https://bank.example", "wss"}, ran),
              "audit time=2026-12-10T08:40:00+0000 origin=\"https://bank.example\" "
              "transport=wss functions=10,11,4011 chain=ok\n");
    EXPECT_EQ(AuditLine(kWhen, request_caller{"", "http"}, RunSummary()),
              "audit time=2026-12-10T08:40:00+0000 origin=\"\" transport=http functions=- "
              "chain=failed\n");
}

TEST_F(AuditLineTest, ARefusalSaysSo) {
    EXPECT_EQ(AuditLine(kWhen, request_caller{"https://evil.example", "ws"}, RunSummary(), true),
              "audit time=2026-12-10T08:40:00+0000 origin=\"https://evil.example\" transport=ws "
              "functions=- chain=refused\n");
}

TEST_F(AuditLineTest, AnOriginCannotBreakTheLine) {
    const std::string line =
        AuditLine(kWhen, request_caller{"x\"\n\\audit \x01\xe7", "http"}, RunSummary());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    EXPECT_NE(line.find("origin=\"x\\x22\\x0a\\x5caudit \\x01\\xe7\""), std::string::npos) << line;
}

TEST_F(AuditLineTest, LongTextsAreCut) {
    RunSummary ran;
    ran.functionTypes.assign(kMaxStepsPerRequest, 7);
    const std::string line = AuditLine(kWhen, request_caller{std::string(5000, 'a'), "http"}, ran);
    EXPECT_NE(line.find("origin=\"" + std::string(kMaxAuditOriginBytes, 'a') + "...\""),
              std::string::npos);
    EXPECT_NE(line.find(",...(10000 in all) chain=failed\n"), std::string::npos) << line;
    EXPECT_LT(line.size(), 1024u);
}

}  // namespace
