#include <chrono>

#include "net/log.h"
#include "net/mbedtls_conf.h"
#include "net/socket_stream.h"
#include "net/sslbase_io.h"
#include "service/master_services.h"

net::sslbase_io* setup_ssl(net::socket_stream& conn, net::mbedtls_conf& conf) {
    const char* kFile = "master_services";
    // Every request after the first of a kept-alive connection lands here.
    if (auto* hook = dynamic_cast<net::sslbase_io*>(conn.get_hook())) {
        return hook;
    }
    net::sslbase_io* ssl = conf.create(false);
    if (ssl == nullptr) {
        net::log::error4(kFile, __LINE__, "setup_ssl", "setup_hook error!");
        return nullptr;
    }
    if (conn.setup_hook(ssl) == ssl) {
        net::log::error4(kFile, __LINE__, "setup_ssl", "setup_hook error!");
        ssl->destroy();
        return nullptr;
    }
    // Like a request's head, the handshake must be done within 5 s of its
    // first byte (it is here), however slowly the bytes come: otherwise a
    // trickling client holds its connection and thread for ever.
    conn.set_deadline(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    const bool shook = ssl->handshake();
    conn.clear_deadline();
    if (!shook) {
        net::log::error4(kFile, __LINE__, "setup_ssl", "ssl handshake failed");
        return nullptr;
    }
    if (!ssl->handshake_ok()) {
        net::log::msg4(kFile, __LINE__, "setup_ssl", "handshake trying again...");
        return nullptr;
    }
    net::log::msg4(kFile, __LINE__, "setup_ssl", "handshake_ok");
    return ssl;
}
