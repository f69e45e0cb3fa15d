#pragma once
// The service host: the one server object of the process. It listens on the
// two loopback ports, puts TLS on port-9652 connections and gives every
// connection its own servlet. It also owns the dispatch lock.

#include <atomic>
#include <mutex>

#include "net/adaptive_mutex.h"
#include "net/master_threads.h"
#include "service/request_dispatch.h"

namespace net {
class mbedtls_conf;
class socket_stream;
class sslbase_io;
}  // namespace net

// The addresses the service listens on.
inline constexpr const char* kServiceAddresses = "127.0.0.1:9651,127.0.0.1:9652";
inline constexpr int kTlsPort = 9652;

class master_services : public net::master_threads {
  public:
    static master_services& get_instance();

    ~master_services() override;

    // Held around every RunProcess call, never during network I/O.
    net::adaptive_mutex& dispatch_lock() { return dispatchLock_; }

    // Runs request texts with RunProcess under the dispatch lock; every
    // servlet the host makes is given this.
    const request_dispatch& dispatch() const { return dispatch_; }
    // The stop: no request text starts after this.
    void close_dispatch() { dispatch_.Close(); }
    int requests_running() const { return dispatch_.Running(); }

    // Registers the four configuration tables (every value takes its default).
    void register_tables();

    // The TLS configuration, or null when TLS is not set up.
    net::mbedtls_conf* tls_conf() const { return conf_.load(); }

  protected:
    master_services();

    bool thread_on_accept(net::socket_stream* stream) override;
    bool thread_on_read(net::socket_stream* stream) override;
    bool thread_on_timeout(net::socket_stream* stream) override;
    void thread_on_close(net::socket_stream* stream) override;
    void thread_on_init() override;

  private:
    void release_conf();

    net::adaptive_mutex dispatchLock_;
    request_dispatch dispatch_;
    std::atomic<net::mbedtls_conf*> conf_{nullptr};
};

// Set just before the service thread starts; cleared by the orderly stop.
std::atomic<bool>& ServiceRunFlag();

// The service thread: registers the tables, then listens while the run flag
// is set. The parameter is not used.
unsigned int ServiceThreadProc(void* parameter);

// The orderly stop: clears the run flag, closes the dispatch (a request that
// waits for the lock is dropped) and makes the listener return, which closes
// the listeners before the connections. Returns at once.
void StopService();

// Puts a TLS layer on one connection and runs the server handshake; the
// connection's layer, or null on failure.
net::sslbase_io* setup_ssl(net::socket_stream& conn, net::mbedtls_conf& conf);

// The port after the last "|" of a local address text, or 0.
int PortOfLocalAddress(const char* local);
