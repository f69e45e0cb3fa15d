#pragma once
// One thread per connection, from accept to close, with small stacks and a
// cap on how many run at once. Every thread is joined by the owner.

#include <pthread.h>
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

  private:
    struct entry {
        pthread_t thread{};
        int fd = -1;  // -1 once the connection no longer owns it
        bool done = false;
    };
    struct start_args {
        connection_threads* owner;
        uint64_t id;
        int fd;
    };

    static void* thread_main(void* raw);
    void run(uint64_t id, int fd);
    void forget_fd(uint64_t id);
    void finished(uint64_t id);
    void join_done(std::unique_lock<std::mutex>& lock);

    const serve_function serve_;
    const size_t stackSize_;

    mutable std::mutex lock_;
    std::condition_variable allDone_;
    std::map<uint64_t, entry> entries_;
    uint64_t nextId_ = 0;
    size_t live_ = 0;
    bool stopping_ = false;
};

}  // namespace net
