// Which listen failures reach the log while the service retries each second.
#include <gtest/gtest.h>

#include <chrono>

#include "net/listener_set.h"

namespace {

using net::listen_failure_report;
using std::chrono::seconds;

const listen_failure_report::clock::time_point kStart{seconds(1000)};

TEST(ListenFailureReport, LogsTheFirstFailureThenOneAMinute) {
    listen_failure_report report;
    int logged = 0;
    for (int second = 0; second < 180; ++second) {
        logged += report.failed(kStart + seconds(second)) ? 1 : 0;
    }
    EXPECT_EQ(logged, 3);  // at 0 s, 60 s and 120 s
}

TEST(ListenFailureReport, CountsTheFailuresItKeptQuiet) {
    listen_failure_report report;
    ASSERT_TRUE(report.failed(kStart));
    for (int second = 1; second < 60; ++second) {
        ASSERT_FALSE(report.failed(kStart + seconds(second))) << second;
    }
    EXPECT_EQ(report.unlogged(), 59u);
    EXPECT_TRUE(report.failed(kStart + seconds(60)));
}

TEST(ListenFailureReport, SaysOnceThatListeningWorksAgain) {
    listen_failure_report report;
    EXPECT_FALSE(report.succeeded());  // never failed: nothing to say
    report.failed(kStart);
    report.failed(kStart + seconds(1));
    EXPECT_TRUE(report.succeeded());
    EXPECT_FALSE(report.succeeded());
    EXPECT_EQ(report.unlogged(), 0u);
}

TEST(ListenFailureReport, AFailureAfterARecoveryIsLoggedAtOnce) {
    listen_failure_report report;
    report.failed(kStart);
    report.succeeded();
    EXPECT_TRUE(report.failed(kStart + seconds(2)));
}

}  // namespace
