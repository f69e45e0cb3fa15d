#pragma once
// One accepted connection: its socket, its read/write time-out, its hook and
// one pointer of the application's.

#include <sys/types.h>
#include <chrono>
#include <cstddef>
#include <string>

#include "net/stream_hook.h"

namespace net {

class socket_stream {
  public:
    // Takes ownership of a connected socket.
    explicit socket_stream(int fd);
    ~socket_stream();  // destroys the hook, closes the socket
    socket_stream(const socket_stream&) = delete;
    socket_stream& operator=(const socket_stream&) = delete;

    void* get_ctx() const { return ctx_; }
    void set_ctx(void* ctx) { ctx_ = ctx; }

    // Applies to every read and write from now on. A blocking socket then
    // carries the read time-out itself, so that a wait and its read are one
    // call.
    void set_rw_timeout(int seconds);
    int get_rw_timeout() const { return rwTimeout_; }

    // "127.0.0.1"; with full, "127.0.0.1|9651".
    const char* get_peer(bool full = false) const;
    const char* get_local(bool full = false) const;
    int sock_handle() const { return fd_; }

    stream_hook* get_hook() const { return hook_; }
    // Installs a hook (hook->open decides); returns the hook installed
    // before, or `hook` itself when installing failed.
    stream_hook* setup_hook(stream_hook* hook);

    // The socket itself, with the time-out, beneath any hook. Reads take
    // what the socket has at once, up to kReadAhead bytes, and hand it out
    // from there.
    ssize_t sock_read(void* buf, size_t len);
    ssize_t sock_send(const void* buf, size_t len);

    // Through the hook when there is one. Bytes given back with unread()
    // come first.
    ssize_t read(void* buf, size_t len);      // > 0, 0 at end, -1 on error/time-out
    bool read_exact(void* buf, size_t len);   // all of them or false
    bool write(const void* buf, size_t len);  // all of them or false
    void unread(const void* buf, size_t len);

    bool timed_out() const { return timedOut_; }  // the last failure was a time-out
    // How many reads and writes have timed out so far.
    unsigned timeout_count() const { return timeouts_; }

    // Reads and writes also give up at this point, whatever the time-out
    // (a request head has to arrive in time as a whole).
    void set_deadline(std::chrono::steady_clock::time_point when);
    void clear_deadline() { hasDeadline_ = false; }

    bool has_unread() const { return !pushedBack_.empty(); }

    // Ends the sending side, then reads and drops what the peer still sends
    // until it closes, for at most `limit` or `budget` bytes. Closing with
    // unread bytes makes the kernel reset the connection, and a reset can
    // destroy an answer the peer has not read yet.
    void close_lingering(std::chrono::milliseconds limit, size_t budget);

    // Bytes already read from the socket, or held by the hook, for the
    // reader: a reader would not have to wait for the socket.
    bool buffered() const;
    // Nothing buffered, and the socket's last read came back short: the
    // socket had nothing more then, so more bytes will come as a new event.
    bool drained() const { return drained_ && !buffered(); }

    enum class wait_result { ready, timed_out, closed, nothing };
    // Waits, with the time-out, until there is something to read. A peer
    // that closed cleanly is told apart only without a hook.
    wait_result wait_readable();
    // The same without waiting, once the socket was seen to be readable:
    // what the socket has is kept for the reader; `nothing` when it has
    // nothing after all.
    wait_result take_ready();

    static constexpr size_t kReadAhead = 4096;

  private:
    // 1 ready, 0 time-out, -1 error.
    int wait_for(short events);
    // One read from the socket, waiting with the time-out and deadline.
    ssize_t recv_waiting(void* buf, size_t len);
    void count_timeout();
    const char* address_text(bool local, bool full) const;

    int fd_;
    void* ctx_ = nullptr;
    int rwTimeout_ = 0;
    bool recvWaits_ = false;  // blocking, with SO_RCVTIMEO set to rwTimeout_
    stream_hook* hook_ = nullptr;
    std::string pushedBack_;
    // Read from the socket and not yet taken, beneath any hook. On the
    // connection thread's stack, so an idle connection costs no memory.
    char ahead_[kReadAhead];
    size_t aheadBegin_ = 0;
    size_t aheadEnd_ = 0;
    bool timedOut_ = false;
    bool drained_ = false;
    unsigned timeouts_ = 0;
    bool hasDeadline_ = false;
    std::chrono::steady_clock::time_point deadline_{};
    mutable std::string peer_, peerFull_, local_, localFull_;
};

}  // namespace net
