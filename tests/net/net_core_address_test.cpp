#include <gtest/gtest.h>

#include "net/listen_address.h"
#include "tests/net/net_core_testkit.h"

namespace {

struct address_case {
    const char* list;
    bool ok;
    std::vector<int> ports;
};

class AddressList : public ::testing::TestWithParam<address_case> {};

TEST_P(AddressList, OnlyLoopbackIPv4WithAPortIsAccepted) {
    const address_case c = GetParam();
    std::vector<net::listen_address> out;
    std::string error;
    ASSERT_EQ(net::parse_listen_addresses(c.list, out, error), c.ok) << c.list << ": " << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(out.empty());
        return;
    }
    ASSERT_EQ(out.size(), c.ports.size());
    for (size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].port, c.ports[i]);
        EXPECT_EQ(out[i].ip >> 24, 127u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lists, AddressList,
    ::testing::Values(
        address_case{"127.0.0.1:9651,127.0.0.1:9652", true, {9651, 9652}},
        address_case{"127.0.0.1:9651, 127.0.0.1:9652", true, {9651, 9652}},
        address_case{" 127.0.0.1:0 ", true, {0}}, address_case{"127.1.2.3:65535", true, {65535}},
        address_case{"127.0.0.1:1,", true, {1}}, address_case{"0.0.0.0:9651", false, {}},
        address_case{"192.168.1.1:9651", false, {}}, address_case{"128.0.0.1:9651", false, {}},
        address_case{"127.0.0.1:9651,10.0.0.1:9652", false, {}},
        address_case{"localhost:9651", false, {}}, address_case{"127.1:9651", false, {}},
        address_case{"[::1]:9651", false, {}}, address_case{"127.0.0.1", false, {}},
        address_case{"127.0.0.1:", false, {}}, address_case{"127.0.0.1:65536", false, {}},
        address_case{"127.0.0.1:-1", false, {}}, address_case{"127.0.0.1:96x", false, {}},
        address_case{"", false, {}}, address_case{" , ", false, {}}));

TEST(RunAlone, RefusesAnAddressOutsideLoopbackWithAnErrorLine) {
    net::test::event_log log;
    net::test::test_master server(log);
    testing::internal::CaptureStderr();
    const bool result = server.run_alone("127.0.0.1:0,0.0.0.0:0");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result);
    EXPECT_NE(err.find("error"), std::string::npos) << err;
    EXPECT_NE(err.find("0.0.0.0:0"), std::string::npos) << err;
    EXPECT_NE(err.find("loopback"), std::string::npos) << err;
    EXPECT_EQ(log.count("init"), 0u);
    EXPECT_TRUE(server.bound_ports().empty());
}

TEST(RunAlone, FailsWhenThePortIsTaken) {
    net::test::event_log log;
    net::test::test_master first(log);
    net::test::server_runner running(first);
    ASSERT_TRUE(running.listening());
    net::test::test_master second(log);
    testing::internal::CaptureStderr();
    const bool result = second.run_alone(("127.0.0.1:" + std::to_string(running.port())).c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(result);
    EXPECT_NE(err.find("bind"), std::string::npos) << err;
}

TEST(RunAlone, ListensOnEveryAddressOfTheList) {
    net::test::event_log log;
    net::test::test_master server(log);
    net::test::server_runner running(server, "127.0.0.1:0, 127.0.0.2:0");
    ASSERT_TRUE(running.listening());
    const std::vector<int> ports = server.bound_ports();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_NE(ports[0], 0);
    EXPECT_NE(ports[1], 0);
    net::test::raw_client a(ports[0]);
    EXPECT_TRUE(a.connected());
    a.send("GET /a HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(a.read_answer().body, "GET /a");
    net::test::raw_client b(ports[1], "127.0.0.2");
    EXPECT_TRUE(b.connected());
    b.send("GET /b HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(b.read_answer().body, "GET /b");
    EXPECT_TRUE(running.stop());
    EXPECT_TRUE(server.bound_ports().empty());
}

}  // namespace
