#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include <string>

#include "net/mbedtls_conf.h"
#include "net/socket_stream.h"
#include "net/sslbase_io.h"
#include "tls_test_support.h"

namespace {

using net::mbedtls_conf;
using net::test::test_files;

TEST(mbedtls_conf, LoadsTheLinkedLibraryWhateverThePaths) {
    mbedtls_conf::set_libpath("./mbedtls.dll", "./mbedtls.dll", "./ZQTService/mbedtls.dll");
    EXPECT_TRUE(mbedtls_conf::load());
    mbedtls_conf::set_libpath(nullptr, nullptr, nullptr);
    EXPECT_TRUE(mbedtls_conf::load());
}

TEST(mbedtls_conf, AcceptsAMatchingCertificateAndKey) {
    mbedtls_conf conf;
    EXPECT_EQ(conf.ssl_config(), nullptr) << "no certificate yet";
    ASSERT_TRUE(conf.add_cert(test_files().server_crt.c_str()));
    EXPECT_EQ(conf.ssl_config(), nullptr) << "no key yet";
    ASSERT_TRUE(conf.set_key(test_files().server_key.c_str()));
    EXPECT_NE(conf.ssl_config(), nullptr);
}

TEST(mbedtls_conf, AcceptsTheKeyBeforeTheCertificate) {
    mbedtls_conf conf;
    ASSERT_TRUE(conf.set_key(test_files().server_key.c_str(), ""));
    ASSERT_TRUE(conf.add_cert(test_files().server_crt.c_str()));
    EXPECT_NE(conf.ssl_config(), nullptr);
}

TEST(mbedtls_conf, OpensAnEncryptedKeyWithItsPassPhraseOnly) {
    mbedtls_conf conf;
    ASSERT_TRUE(conf.add_cert(test_files().server_crt.c_str()));
    EXPECT_FALSE(conf.set_key(test_files().encrypted_server_key.c_str()));
    EXPECT_FALSE(conf.set_key(test_files().encrypted_server_key.c_str(), "wrong"));
    EXPECT_EQ(conf.ssl_config(), nullptr);
    EXPECT_TRUE(conf.set_key(test_files().encrypted_server_key.c_str(), "secret"));
    EXPECT_NE(conf.ssl_config(), nullptr);
}

struct bad_cert_case {
    const char* name;
    std::string path;
};

class add_cert_refusal_test : public testing::TestWithParam<bad_cert_case> {};

TEST_P(add_cert_refusal_test, IsRefused) {
    mbedtls_conf conf;
    EXPECT_FALSE(conf.add_cert(GetParam().path.c_str()));
    EXPECT_TRUE(conf.set_key(test_files().server_key.c_str()));
    EXPECT_EQ(conf.ssl_config(), nullptr) << "a key alone cannot serve";
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, add_cert_refusal_test,
    testing::Values(bad_cert_case{"Missing", test_files().dir + "/no_such.pem"},
                    bad_cert_case{"AKeyFile", test_files().server_key},
                    bad_cert_case{"Garbage", test_files().garbage},
                    bad_cert_case{"Directory", test_files().dir}),
    [](const testing::TestParamInfo<bad_cert_case>& param_info) { return param_info.param.name; });

class set_key_refusal_test : public testing::TestWithParam<bad_cert_case> {};

TEST_P(set_key_refusal_test, IsRefused) {
    mbedtls_conf conf;
    ASSERT_TRUE(conf.add_cert(test_files().server_crt.c_str()));
    EXPECT_FALSE(conf.set_key(GetParam().path.c_str()));
    EXPECT_EQ(conf.ssl_config(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    BadFiles, set_key_refusal_test,
    testing::Values(bad_cert_case{"Missing", test_files().dir + "/no_such.pem"},
                    bad_cert_case{"ACertificateFile", test_files().server_crt},
                    bad_cert_case{"Garbage", test_files().garbage},
                    bad_cert_case{"AnotherCertificatesKey", test_files().other_key},
                    bad_cert_case{"Directory", test_files().dir}),
    [](const testing::TestParamInfo<bad_cert_case>& param_info) { return param_info.param.name; });

TEST(mbedtls_conf, RefusesACertificateThatDoesNotMatchTheKey) {
    mbedtls_conf conf;
    ASSERT_TRUE(conf.set_key(test_files().server_key.c_str()));
    EXPECT_FALSE(conf.add_cert(test_files().client_crt.c_str()));
    EXPECT_EQ(conf.ssl_config(), nullptr);
}

TEST(mbedtls_conf, NullPathsAreRefused) {
    mbedtls_conf conf;
    EXPECT_FALSE(conf.add_cert(nullptr));
    EXPECT_FALSE(conf.set_key(nullptr));
    EXPECT_FALSE(conf.add_ca(nullptr));
}

struct socket_pair {
    int fds[2] = {-1, -1};
    socket_pair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0); }
    ~socket_pair() { ::close(fds[1]); }
};

TEST(sslbase_io, CannotBeInstalledFromAConfigurationThatCannotServe) {
    mbedtls_conf conf;
    ASSERT_TRUE(conf.add_cert(test_files().server_crt.c_str()));  // no key
    socket_pair pair;
    net::socket_stream stream(pair.fds[0]);
    net::sslbase_io* layer = conf.create(false);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(stream.setup_hook(layer), layer) << "installing must fail";
    EXPECT_EQ(stream.get_hook(), nullptr);
    EXPECT_FALSE(layer->handshake());
    EXPECT_FALSE(layer->handshake_ok());
    layer->destroy();
}

TEST(sslbase_io, IsInstalledOnceOnly) {
    auto conf = net::test::server_conf();
    socket_pair pair;
    net::socket_stream stream(pair.fds[0]);
    net::sslbase_io* first = conf->create(false);
    EXPECT_EQ(stream.setup_hook(first), nullptr);
    EXPECT_EQ(stream.get_hook(), first);
    EXPECT_FALSE(first->open(stream)) << "already attached";
    EXPECT_FALSE(first->handshake_ok());
}

TEST(sslbase_io, UnattachedLayerFailsEveryOperation) {
    auto conf = net::test::server_conf();
    net::sslbase_io* layer = conf->create(true);
    char buf[4];
    EXPECT_FALSE(layer->handshake());
    EXPECT_EQ(layer->read(buf, sizeof buf), -1);
    EXPECT_EQ(layer->send("x", 1), -1);
    EXPECT_EQ(layer->pending(), 0u);
    layer->destroy();
}

}  // namespace
