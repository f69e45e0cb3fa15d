#include <gtest/gtest.h>

#include <string>

#include "net/websocket_handshake.h"

namespace {

struct accept_case {
    const char* key;
    const char* accept;
};

class websocket_accept_key_test : public testing::TestWithParam<accept_case> {};

TEST_P(websocket_accept_key_test, MatchesKnownAnswer) {
    EXPECT_EQ(net::websocket_accept_key(GetParam().key), GetParam().accept);
}

// The protocol's own example, and further answers computed with Python's
// hashlib and base64.
INSTANTIATE_TEST_SUITE_P(
    KnownKeys, websocket_accept_key_test,
    testing::Values(accept_case{"dGhlIHNhbXBsZSBub25jZQ==", "s3pPLMBiTxaQ9kYGzzhZRbK+xOo="},
                    accept_case{"x3JJHMbDL1EzLkh9GBhXDw==", "HSmrc0sMlYUkAGmm5OPpG2HaGWk="},
                    accept_case{"", "Kfh9QIsMVZcl6xEPYxPHzW8SZ8w="}));

TEST(websocket_accept_key, IsAlways28Base64Characters) {
    for (const std::string& key :
         {std::string("a"), std::string("AQIDBAUGBwgJCgsMDQ4PEA=="), std::string(1000, 'k')}) {
        const std::string accept = net::websocket_accept_key(key);
        ASSERT_EQ(accept.size(), 28u) << key;
        EXPECT_EQ(accept.back(), '=');
        EXPECT_EQ(accept.find_first_not_of(
                      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/="),
                  std::string::npos);
    }
}

TEST(websocket_accept_key, DiffersForKeysDifferingInOneCharacter) {
    EXPECT_NE(net::websocket_accept_key("dGhlIHNhbXBsZSBub25jZQ=="),
              net::websocket_accept_key("dGhlIHNhbXBsZSBub25jZR=="));
}

}  // namespace
