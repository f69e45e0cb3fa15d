#include "net/sslbase_io.h"

#include <cerrno>
#include <climits>

#include <mbedtls/net_sockets.h>

#include "net/mbedtls_conf.h"
#include "net/socket_stream.h"

namespace net {

namespace {

bool is_want(int ret) {
    return ret == MBEDTLS_ERR_SSL_WANT_READ || ret == MBEDTLS_ERR_SSL_WANT_WRITE;
}

// The BIO is handed one record at a time, far below INT_MAX; clamp anyway
// since it answers in an int.
size_t clamp_to_int(size_t len) {
    return len > INT_MAX ? INT_MAX : len;
}

bool socket_would_block(const socket_stream& stream) {
    return stream.timed_out() || errno == EAGAIN || errno == EWOULDBLOCK;
}

}  // namespace

sslbase_io::sslbase_io(const mbedtls_conf& conf, bool nonblock)
    : conf_(conf), nonblock_(nonblock) {}

sslbase_io::~sslbase_io() = default;

bool sslbase_io::open(socket_stream& stream) {
    const mbedtls_ssl_config* config = conf_.ssl_config();
    if (stream_ != nullptr || config == nullptr || mbedtls_ssl_setup(&ctx_.ssl, config) != 0) {
        return false;
    }
    stream_ = &stream;
    mbedtls_ssl_set_bio(&ctx_.ssl, this, bio_send, bio_recv, nullptr);
    return true;
}

int sslbase_io::bio_send(void* self, const unsigned char* buf, size_t len) {
    socket_stream& stream = *static_cast<sslbase_io*>(self)->stream_;
    const ssize_t n = stream.sock_send(buf, clamp_to_int(len));
    if (n >= 0) {
        return static_cast<int>(n);
    }
    if (static_cast<sslbase_io*>(self)->nonblock_ && socket_would_block(stream)) {
        return MBEDTLS_ERR_SSL_WANT_WRITE;
    }
    return MBEDTLS_ERR_NET_SEND_FAILED;
}

int sslbase_io::bio_recv(void* self, unsigned char* buf, size_t len) {
    socket_stream& stream = *static_cast<sslbase_io*>(self)->stream_;
    const ssize_t n = stream.sock_read(buf, clamp_to_int(len));
    if (n >= 0) {
        return static_cast<int>(n);  // 0: the peer closed
    }
    if (static_cast<sslbase_io*>(self)->nonblock_ && socket_would_block(stream)) {
        return MBEDTLS_ERR_SSL_WANT_READ;
    }
    return stream.timed_out() ? MBEDTLS_ERR_SSL_TIMEOUT : MBEDTLS_ERR_NET_RECV_FAILED;
}

// A blocking socket never asks to wait, so this only loops when mbed TLS
// itself wants another pass.
bool sslbase_io::retry(int ret) const {
    return is_want(ret) && !nonblock_;
}

bool sslbase_io::handshake() {
    if (stream_ == nullptr || failed_) {
        return false;
    }
    while (!handshakeOk_) {
        const int ret = mbedtls_ssl_handshake(&ctx_.ssl);
        if (ret == 0) {
            handshakeOk_ = true;
        } else if (is_want(ret) && nonblock_) {
            return true;
        } else if (!retry(ret)) {
            failed_ = true;
            return false;
        }
    }
    return true;
}

size_t sslbase_io::pending() const {
    return stream_ != nullptr ? mbedtls_ssl_get_bytes_avail(&ctx_.ssl) : 0;
}

ssize_t sslbase_io::read(void* buf, size_t len) {
    if (stream_ == nullptr || failed_) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    for (;;) {
        const int ret =
            mbedtls_ssl_read(&ctx_.ssl, static_cast<unsigned char*>(buf), clamp_to_int(len));
        if (ret > 0) {
            handshakeOk_ = true;  // reading may have completed the handshake
            return ret;
        }
        if (ret == 0 || ret == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY ||
            ret == MBEDTLS_ERR_SSL_CONN_EOF) {
            return 0;
        }
        if (is_want(ret) && nonblock_) {
            errno = EAGAIN;
            return -1;
        }
        if (!retry(ret)) {
            failed_ = true;
            return -1;
        }
    }
}

ssize_t sslbase_io::send(const void* buf, size_t len) {
    if (stream_ == nullptr || failed_) {
        return -1;
    }
    for (;;) {
        const int ret =
            mbedtls_ssl_write(&ctx_.ssl, static_cast<const unsigned char*>(buf), clamp_to_int(len));
        if (ret >= 0) {
            return ret;
        }
        if (is_want(ret) && nonblock_) {
            errno = EAGAIN;
            return -1;
        }
        if (!retry(ret)) {
            failed_ = true;
            return -1;
        }
    }
}

void sslbase_io::destroy() {
    if (stream_ != nullptr && handshakeOk_ && !failed_) {
        // One attempt: a peer that is gone must not hold up the close.
        int ret;
        do {
            ret = mbedtls_ssl_close_notify(&ctx_.ssl);
        } while (retry(ret));
    }
    delete this;
}

}  // namespace net
