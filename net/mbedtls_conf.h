#pragma once
// One TLS configuration shared by many connections: the random generator,
// own certificate and key, trusted certificates and the session cache.
// Set it up first (add_cert, set_key, enable_cache ...); after the first
// create() it is only read, so connections on several threads may share it.
// It must outlive every layer it created.

#include <memory>

#include <mbedtls/ssl.h>

namespace net {

class sslbase_io;

// How a peer's certificate is treated.
enum mbedtls_verify_t {
    MBEDTLS_VERIFY_NONE,      // not asked for
    MBEDTLS_VERIFY_OPTIONAL,  // asked for; the handshake goes on whatever it is
    MBEDTLS_VERIFY_REQUIRED,  // required and checked against add_ca's certificates
};

class mbedtls_conf {
  public:
    // The library is linked, so the paths are only kept.
    static void set_libpath(const char* libcrypto, const char* libx509, const char* libssl);
    // True when the linked library is one this code was built for and has
    // the parts it needs.
    static bool load();

    explicit mbedtls_conf(bool server_side = true,
                          mbedtls_verify_t verify_mode = MBEDTLS_VERIFY_NONE);
    ~mbedtls_conf();
    mbedtls_conf(const mbedtls_conf&) = delete;
    mbedtls_conf& operator=(const mbedtls_conf&) = delete;

    // A server-side cache of sessions, so that clients may resume them.
    void enable_cache(bool on);

    // Own certificate chain, PEM or DER; may be called again to append.
    bool add_cert(const char* crt_file);
    // Own private key; false also when it does not match the certificate.
    bool set_key(const char* key_file, const char* key_pass = nullptr);
    // Certificates that peers' certificates are checked against.
    bool add_ca(const char* ca_file);

    // A TLS layer for one connection, to be installed with
    // socket_stream::setup_hook. Installing it fails while this
    // configuration cannot serve (a server without certificate and key, or
    // an unseeded random generator). Never null.
    sslbase_io* create(bool nonblock);

    bool is_server_side() const { return serverSide_; }
    // The mbed TLS configuration, or null while it cannot serve.
    const mbedtls_ssl_config* ssl_config() const;

  private:
    struct state;
    bool configure_own_cert();

    bool serverSide_;
    std::unique_ptr<state> state_;
};

}  // namespace net
