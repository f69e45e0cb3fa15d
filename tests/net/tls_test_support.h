#pragma once
// Certificates made with mbed TLS, a loopback TLS server built on the
// library's layer, and an mbed TLS client of the tests' own.

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/mbedtls_conf.h"

namespace net::test {

// Files in a temporary folder, made once per test program.
struct tls_files {
    std::string dir;
    std::string server_crt, server_key;  // CN=127.0.0.1
    std::string other_key;               // a key that matches no certificate
    std::string client_crt, client_key;  // self-signed, usable as its own CA
    std::string encrypted_server_key;    // server_key under the pass phrase "secret"
    std::string garbage;                 // neither certificate nor key
};
const tls_files& test_files();

// A server configuration as the service builds it.
std::unique_ptr<mbedtls_conf> server_conf(bool cache = true,
                                          mbedtls_verify_t verify = MBEDTLS_VERIFY_NONE);

struct served_connection {
    bool opened = false;  // setup_hook took the layer
    bool handshake = false;
    bool handshake_ok = false;
    std::string received;
    long last_read = 1;  // the read that ended the echo: 0 closed, -1 error
};

// Accepts `connections` connections one after the other on 127.0.0.1, puts
// a TLS layer from `conf` on each, and echoes what arrives until the peer
// closes, or until `echo_limit` bytes when it is not 0.
class tls_echo_server {
  public:
    tls_echo_server(mbedtls_conf& conf, size_t connections, size_t echo_limit = 0,
                    int rw_timeout = 10);
    ~tls_echo_server();
    tls_echo_server(const tls_echo_server&) = delete;
    tls_echo_server& operator=(const tls_echo_server&) = delete;

    int port() const { return port_; }
    // Waits for every connection to be served.
    std::vector<served_connection> results();

  private:
    void serve();

    mbedtls_conf& conf_;
    size_t connections_;
    size_t echoLimit_;
    int rwTimeout_;
    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex lock_;
    std::vector<served_connection> results_;
};

// An mbed TLS client on a plain socket.
class tls_client {
  public:
    struct options {
        bool tls_1_1_only = false;
        std::string crt, key;  // a client certificate, when set
    };
    explicit tls_client(int port) : tls_client(port, options{}) {}
    tls_client(int port, const options& opts);
    ~tls_client();
    tls_client(const tls_client&) = delete;
    tls_client& operator=(const tls_client&) = delete;

    // 0 or the mbed TLS error.
    int handshake();
    bool write_all(const std::string& data);
    // Exactly len bytes, or fewer when the server closes or fails.
    std::string read(size_t len);
    // The result of reading once more: PEER_CLOSE_NOTIFY when the server
    // closed properly.
    int read_end();
    void close_notify();

  private:
    struct state;
    std::unique_ptr<state> s_;
};

// A listening socket on 127.0.0.1 and a free port; accept_within waits
// for one connection (-1 when none came).
int listen_loopback(int& port);
int accept_within(int listen_fd);

// `openssl s_client` against 127.0.0.1:port, with input piped in; its
// combined output.
std::string run_s_client(int port, const std::string& args, const std::string& input, int& status);

}  // namespace net::test
