#pragma once
// A layer installed between a connection's socket and its readers and
// writers: the TLS layer is one.

#include <cstddef>
#include <sys/types.h>

namespace net {

class socket_stream;

class stream_hook {
public:
    virtual ~stream_hook() = default;

    // Called when the hook is installed on a stream; false refuses it.
    virtual bool open(socket_stream& stream) = 0;
    // Up to len bytes: > 0 bytes read, 0 when the peer closed, -1 on error or
    // time-out.
    virtual ssize_t read(void* buf, size_t len) = 0;
    // Some of the bytes: >= 0 bytes written, -1 on error or time-out.
    virtual ssize_t send(const void* buf, size_t len) = 0;
    // Releases the hook; the stream calls it when it is closed.
    virtual void destroy() { delete this; }
};

}  // namespace net
