#pragma once
// A stand-alone threaded server: it listens on loopback addresses and
// serves connections from an event core (event_core.h) through the
// callbacks below, until stop() is called. A connection is on one thread at
// a time, and costs a thread only while it is being served.

#include <netinet/in.h>
#include <sys/types.h>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

#include "net/event_core.h"
#include "net/listener_set.h"
#include "net/master_base.h"

namespace net {

class socket_stream;

class master_threads : public master_base, private event_core::handler {
  public:
    static constexpr size_t kDefaultMaxConnections = 1024;
    static constexpr size_t kDefaultStackSize = 256 * 1024;

    master_threads();
    ~master_threads() override;

    // Listens on every address of the comma-separated list (IPv4 on
    // 127.0.0.0/8 only; port 0 takes a free port) and serves connections
    // until stop(). No configuration file is read, whatever `path` says; a
    // connection count and a thread count are not limits here: the threads
    // follow the load. Returns true once stopped, false at once
    // when an address is refused or cannot be listened on (with an error
    // line on the log). thread_on_init runs once per object, before the first
    // connection is read. One run at a time.
    bool run_alone(const char* addrs, const char* path = nullptr, unsigned int count = 0,
                   int threads_count = 0);

    // Makes run_alone return promptly, from any thread: listeners closed,
    // every connection shut down and its thread joined. A stop before
    // run_alone makes it return at once.
    void stop();
    bool stopped() const { return stopping_.load(); }

    // The ports being listened on, in the order of the list; empty when not
    // listening.
    std::vector<int> bound_ports() const;

    // Past this many open connections a new one is closed at once.
    void set_max_connections(size_t cap) { maxConnections_ = cap; }
    void set_thread_stack_size(size_t bytes) { stackSize_ = bytes; }
    // Every accepted connection is first checked to come from a socket of
    // this process's own user (peer_owner.h); another user's, or one whose
    // owner cannot be found, is closed at once, before any callback, with a
    // line on the log. On unless turned off, which only the benchmark does,
    // to compare the cost: here, or with ZQT_PEER_CHECK=off in the
    // environment of the process (read once; an error line says it is off).
    void set_peer_check(bool on) { peerCheck_ = on; }

  protected:
    // Once per connection, first. False closes it. A connection refused by
    // the peer check (set_peer_check) never gets here, nor to thread_on_close.
    virtual bool thread_on_accept(socket_stream* stream);
    // Each time the connection has data; true keeps it for more.
    virtual bool thread_on_read(socket_stream* stream) = 0;
    // When waiting for data, or a read or write inside thread_on_read, ran
    // out of time; true keeps the connection (if thread_on_read also did).
    virtual bool thread_on_timeout(socket_stream* stream);
    // Once per connection, last, before the stream is freed (also when
    // thread_on_accept refused it).
    virtual void thread_on_close(socket_stream* stream);
    // Once, before any connection is read.
    virtual void thread_on_init();

  private:
    // The event core's calls, each one fault boundary: whatever a callback
    // throws, an allocation failure included, ends that connection only.
    bool on_open(socket_stream& stream) override;
    bool on_ready(socket_stream& stream) override;
    bool on_idle(socket_stream& stream) override;
    void on_close(socket_stream& stream) override;

    void accept_loop(listener_set& listeners);
    void drain_wake_pipe();
    void accept_ready(int listener, const sockaddr_in& local, event_core& core,
                      class peer_owner_lookup& owners);
    void back_off();

    std::atomic<bool> stopping_{false};
    std::atomic<size_t> maxConnections_{kDefaultMaxConnections};
    std::atomic<size_t> stackSize_{kDefaultStackSize};
    std::atomic<bool> peerCheck_;
    bool initDone_ = false;
    uid_t ownUid_ = 0;  // run_alone's thread only
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    listen_failure_report listenReport_;  // run_alone's thread only

    mutable std::mutex portsLock_;
    std::vector<int> ports_;
};

}  // namespace net
