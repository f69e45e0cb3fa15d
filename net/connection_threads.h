#pragma once
// One thread per connection, from accept to close, with small stacks and a
// cap on how many run at once. A thread whose connection has closed waits a
// moment for the next one (a few such threads at most, 100 ms each),
// which costs far less than making a thread per connection. Every thread is joined by the owner.

#include <pthread.h>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

namespace net {

class socket_stream;

class connection_threads {
  public:
    using serve_function = std::function<void(socket_stream&)>;

    connection_threads(serve_function serve, size_t stackSize);
    ~connection_threads();  // shuts every connection down and joins
    connection_threads(const connection_threads&) = delete;
    connection_threads& operator=(const connection_threads&) = delete;

    // Serves a connected socket on a thread of its own. At the cap, once
    // stopping, or when no thread can be made, the socket is closed at once
    // and the result is false.
    bool start(int fd, size_t cap);

    // Joins the threads whose connection has ended.
    void reap();
    // Wakes every connection (its socket is shut down), refuses new ones,
    // and joins every thread.
    void stop_all();

    size_t live() const;

    // Threads kept waiting for a next connection, at most, and how long
    // each waits before it ends.
    static constexpr size_t kMaxWaiting = 32;
    static constexpr int kWaitingMs = 100;

  private:
    struct entry {
        pthread_t thread{};
        int fd = -1;    // the connection served now; -1 between connections
        int next = -1;  // a connection handed to the thread while it waits
        bool waiting = false;
        bool done = false;  // the thread has returned
        std::condition_variable wake;
    };
    struct start_args {
        connection_threads* owner;
        uint64_t id;
        int fd;
    };

    static void* thread_main(void* raw);
    void run(uint64_t id, int fd);
    void forget_fd(uint64_t id);
    // The next connection for the thread, once its own has ended; -1 when
    // the thread is to end.
    int next_connection(uint64_t id);
    void join_done(std::unique_lock<std::mutex>& lock);

    const serve_function serve_;
    const size_t stackSize_;

    mutable std::mutex lock_;
    std::condition_variable allDone_;
    std::map<uint64_t, entry> entries_;
    std::vector<uint64_t> waiting_;  // threads waiting for a connection
    uint64_t nextId_ = 0;
    size_t live_ = 0;     // connections being served
    size_t threads_ = 0;  // threads that have not returned
    // Threads that have returned and are not joined yet; read without the
    // lock, so that reap() costs nothing while there are none.
    std::atomic<size_t> ended_{0};
    bool stopping_ = false;
};

}  // namespace net
