#include <gtest/gtest.h>

#include <string>

#include <mbedtls/ssl.h>

#include "net_core_testkit.h"
#include "tls_test_support.h"
#include "websocket_test_peer.h"

namespace {

using net::test::pattern_payload;
using net::test::raw_client;
using net::test::served_connection;
using net::test::tls_client;
using net::test::tls_echo_server;

TEST(tls_handshake, EchoesBothWaysWithAnMbedTlsClient) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1);
    const std::string data = pattern_payload(300000);  // many records
    {
        tls_client client(server.port());
        ASSERT_EQ(client.handshake(), 0);
        for (size_t at = 0; at < data.size(); at += 20000) {
            const std::string piece = data.substr(at, 20000);
            ASSERT_TRUE(client.write_all(piece));
            ASSERT_TRUE(client.read(piece.size()) == piece) << "at " << at;
        }
        client.close_notify();
    }
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].opened);
    EXPECT_TRUE(results[0].handshake);
    EXPECT_TRUE(results[0].handshake_ok);
    EXPECT_TRUE(results[0].received == data);
    EXPECT_EQ(results[0].last_read, 0) << "close_notify reads as the end";
}

TEST(tls_handshake, ServerClosesWithCloseNotify) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1, 5);
    tls_client client(server.port());
    ASSERT_EQ(client.handshake(), 0);
    ASSERT_TRUE(client.write_all("hello"));
    EXPECT_EQ(client.read(5), "hello");
    EXPECT_EQ(client.read_end(), MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY);
    EXPECT_EQ(server.results().size(), 1u);
}

TEST(tls_handshake, PeerClosingWithoutCloseNotifyReadsAsTheEnd) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1);
    {
        tls_client client(server.port());
        ASSERT_EQ(client.handshake(), 0);
        ASSERT_TRUE(client.write_all("abc"));
        EXPECT_EQ(client.read(3), "abc");
    }  // the socket closes without a word
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].received, "abc");
    EXPECT_EQ(results[0].last_read, 0);
}

TEST(tls_handshake, RefusesTls11) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1);
    tls_client::options old;
    old.tls_1_1_only = true;
    tls_client client(server.port(), old);
    EXPECT_NE(client.handshake(), 0);
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].handshake);
    EXPECT_FALSE(results[0].handshake_ok);
}

TEST(tls_handshake, OpensslClientEchoes) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1, 11);
    int status = -1;
    const std::string out = net::test::run_s_client(server.port(), "-quiet", "hello world", status);
    EXPECT_NE(out.find("hello world"), std::string::npos) << out;
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].handshake_ok);
    EXPECT_EQ(results[0].received, "hello world");
}

TEST(tls_handshake, OpensslNegotiatesTls12) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1);
    int status = -1;
    const std::string out = net::test::run_s_client(server.port(), "-brief", "", status);
    EXPECT_NE(out.find("Protocol version: TLSv1.2"), std::string::npos) << out;
    EXPECT_EQ(server.results().size(), 1u);
}

// openssl's -reconnect connects once and then five times more with the
// first session.
constexpr size_t kReconnectConnections = 6;

size_t count_of(const std::string& text, const std::string& word) {
    size_t n = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        ++n;
    }
    return n;
}

TEST(tls_handshake, ResumesSessionsFromTheCache) {
    auto conf = net::test::server_conf(true);
    tls_echo_server server(*conf, kReconnectConnections);
    int status = -1;
    const std::string out = net::test::run_s_client(server.port(), "-reconnect", "", status);
    EXPECT_EQ(count_of(out, "Reused, TLSv1.2"), kReconnectConnections - 1) << out;
    const auto results = server.results();
    ASSERT_EQ(results.size(), kReconnectConnections);
    for (const served_connection& c : results) {
        EXPECT_TRUE(c.handshake_ok);
    }
}

TEST(tls_handshake, WithoutTheCacheEverySessionIsNew) {
    auto conf = net::test::server_conf(false);
    tls_echo_server server(*conf, kReconnectConnections);
    int status = -1;
    const std::string out = net::test::run_s_client(server.port(), "-reconnect", "", status);
    EXPECT_EQ(count_of(out, "Reused,"), 0u) << out;
    EXPECT_EQ(count_of(out, "New, TLSv1.2"), kReconnectConnections) << out;
    EXPECT_EQ(server.results().size(), kReconnectConnections);
}

TEST(tls_handshake, PlainHttpFailsTheHandshakeAndGetsNoHttpAnswer) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1);
    raw_client client(server.port());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"));
    const std::string answer = client.read_all();
    EXPECT_EQ(answer.find("HTTP"), std::string::npos);
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].opened);
    EXPECT_FALSE(results[0].handshake);
    EXPECT_FALSE(results[0].handshake_ok);
    EXPECT_EQ(results[0].received, "");
}

// The start of a TLS 1.2 ClientHello record: handshake type, length, version.
const std::string kClientHelloStart("\x16\x03\x01\x00\xc8\x01\x00\x00\xc4\x03\x03", 11);

TEST(tls_handshake, ClientVanishingMidHandshakeFailsIt) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 2);
    {
        raw_client gone(server.port());
        ASSERT_TRUE(gone.send(kClientHelloStart));
    }
    {
        raw_client silent(server.port());
        ASSERT_TRUE(silent.connected());
    }
    const auto results = server.results();
    ASSERT_EQ(results.size(), 2u);
    for (const served_connection& c : results) {
        EXPECT_FALSE(c.handshake);
        EXPECT_FALSE(c.handshake_ok);
    }
}

TEST(tls_handshake, SilentClientTimesOut) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 1, 0, 1);
    raw_client stalled(server.port());
    ASSERT_TRUE(stalled.send(kClientHelloStart));  // and then nothing, socket open
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].handshake);
    EXPECT_TRUE(stalled.peer_closed());
}

TEST(tls_handshake, ServesAfterAFailedHandshake) {
    auto conf = net::test::server_conf();
    tls_echo_server server(*conf, 2, 2);
    {
        raw_client plain(server.port());
        ASSERT_TRUE(plain.send("GET / HTTP/1.0\r\n\r\n"));
        plain.read_all();
    }
    tls_client client(server.port());
    ASSERT_EQ(client.handshake(), 0);
    ASSERT_TRUE(client.write_all("ok"));
    EXPECT_EQ(client.read(2), "ok");
    const auto results = server.results();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_FALSE(results[0].handshake);
    EXPECT_TRUE(results[1].handshake_ok);
}

struct verify_case {
    const char* name;
    net::mbedtls_verify_t mode;
    bool client_presents_cert;
    bool handshake_ok;
};

class tls_verify_test : public testing::TestWithParam<verify_case> {};

TEST_P(tls_verify_test, TreatsTheClientCertificateAsConfigured) {
    auto conf = net::test::server_conf(true, GetParam().mode);
    ASSERT_TRUE(conf->add_ca(net::test::test_files().client_crt.c_str()));
    tls_echo_server server(*conf, 1, 2);
    tls_client::options opts;
    if (GetParam().client_presents_cert) {
        opts.crt = net::test::test_files().client_crt;
        opts.key = net::test::test_files().client_key;
    }
    tls_client client(server.port(), opts);
    const int ret = client.handshake();
    if (ret == 0 && GetParam().handshake_ok) {
        ASSERT_TRUE(client.write_all("ok"));
        EXPECT_EQ(client.read(2), "ok");
    }
    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].handshake_ok, GetParam().handshake_ok);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, tls_verify_test,
    testing::Values(verify_case{"NoneWithout", net::MBEDTLS_VERIFY_NONE, false, true},
                    verify_case{"OptionalWithout", net::MBEDTLS_VERIFY_OPTIONAL, false, true},
                    verify_case{"RequiredWithout", net::MBEDTLS_VERIFY_REQUIRED, false, false},
                    verify_case{"RequiredWith", net::MBEDTLS_VERIFY_REQUIRED, true, true}),
    [](const testing::TestParamInfo<verify_case>& param_info) { return param_info.param.name; });

}  // namespace
