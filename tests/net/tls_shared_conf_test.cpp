#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tls_test_support.h"
#include "websocket_test_peer.h"

namespace {

using net::test::tls_client;
using net::test::tls_echo_server;

// One configuration, its generator and its session cache, used by several
// connections on several threads at once.
TEST(tls_shared_conf, ServesConnectionsOnSeveralThreadsAtOnce) {
    constexpr size_t kServers = 4;
    constexpr size_t kConnectionsEach = 3;
    auto conf = net::test::server_conf(true);
    std::vector<std::unique_ptr<tls_echo_server>> servers;
    for (size_t i = 0; i < kServers; ++i) {
        servers.push_back(std::make_unique<tls_echo_server>(*conf, kConnectionsEach));
    }
    std::atomic<size_t> echoed{0};
    std::vector<std::thread> clients;
    for (size_t i = 0; i < kServers; ++i) {
        clients.emplace_back([&, port = servers[i]->port(), i] {
            for (size_t c = 0; c < kConnectionsEach; ++c) {
                const std::string data = net::test::pattern_payload(5000 + i * 100 + c);
                tls_client client(port);
                if (client.handshake() == 0 && client.write_all(data) &&
                    client.read(data.size()) == data) {
                    ++echoed;
                }
                client.close_notify();
            }
        });
    }
    for (std::thread& t : clients) {
        t.join();
    }
    EXPECT_EQ(echoed.load(), kServers * kConnectionsEach);
    for (auto& server : servers) {
        const auto results = server->results();
        ASSERT_EQ(results.size(), kConnectionsEach);
        for (const auto& r : results) {
            EXPECT_TRUE(r.handshake_ok);
            EXPECT_EQ(r.last_read, 0);
        }
    }
}

}  // namespace
