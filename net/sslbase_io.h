#pragma once
// The TLS layer of one connection, between its socket and its readers and
// writers. Made by mbedtls_conf::create, installed with
// socket_stream::setup_hook, released with destroy().

#include <sys/types.h>
#include <cstddef>

#include <mbedtls/ssl.h>

#include "net/stream_hook.h"

namespace net {

class mbedtls_conf;
class socket_stream;

class sslbase_io : public stream_hook {
  public:
    // nonblock: handshake() takes one step and returns, and read/send fail
    // with errno EAGAIN instead of waiting once the socket has no more.
    sslbase_io(const mbedtls_conf& conf, bool nonblock);
    ~sslbase_io() override;
    sslbase_io(const sslbase_io&) = delete;
    sslbase_io& operator=(const sslbase_io&) = delete;

    // Attaches to the stream; false when the configuration cannot serve or
    // the layer is already attached.
    bool open(socket_stream& stream) override;

    // Runs the handshake over the stream's socket, with its time-out. False
    // when it failed (the peer closed, timed out, or spoke no TLS); true when
    // it is complete, or, in nonblock mode, when it waits for the socket.
    bool handshake();
    bool handshake_ok() const { return handshakeOk_; }

    // Decrypted bytes already held, which a wait on the socket would miss.
    size_t pending() const override;

    // Decrypted bytes: > 0, 0 when the peer closed (with or without
    // close_notify), -1 on error or time-out.
    ssize_t read(void* buf, size_t len) override;
    // Some of the bytes, encrypted: > 0 bytes taken, -1 on error or time-out.
    ssize_t send(const void* buf, size_t len) override;

    // Tells a peer that finished the handshake that this side closes
    // (close_notify), then frees the layer.
    void destroy() override;

  private:
    static int bio_send(void* self, const unsigned char* buf, size_t len);
    static int bio_recv(void* self, unsigned char* buf, size_t len);
    bool retry(int ret) const;

    // The mbed TLS context of the connection; freed with the layer.
    struct context {
        mbedtls_ssl_context ssl;
        context() { mbedtls_ssl_init(&ssl); }
        ~context() { mbedtls_ssl_free(&ssl); }
        context(const context&) = delete;
        context& operator=(const context&) = delete;
    };

    const mbedtls_conf& conf_;
    const bool nonblock_;
    context ctx_;
    socket_stream* stream_ = nullptr;
    bool handshakeOk_ = false;
    bool failed_ = false;
};

}  // namespace net
