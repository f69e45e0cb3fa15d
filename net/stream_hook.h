#pragma once
// A layer installed between a connection's socket and its readers and
// writers: the TLS layer is one.

#include <sys/types.h>
#include <cstddef>

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
    // Bytes the hook already holds for the reader (decrypted and not yet
    // read), so that a waiting stream does not wait for the socket.
    virtual size_t pending() const { return 0; }
    // Releases the hook; the stream calls it when it is closed.
    virtual void destroy() { delete this; }
};

}  // namespace net
