#pragma once
// Connections served from one edge-triggered epoll set by a few runner
// threads, two per core. A runner takes one event and serves that connection itself, then
// takes the next: nothing is handed from thread to thread on a request's
// path, and an idle connection costs no thread. A monitor thread watches the
// runners: one that has been inside a single serve for kStallMs is counted
// out and another runner takes its place, so a call that blocks (a PIN
// prompt) never holds up other connections. It also hands idle connections
// whose read time-out has passed to the runners, and lets spare threads go.

#include <pthread.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace net {

class socket_stream;

class event_core {
  public:
    class handler {
      public:
        virtual ~handler() = default;
        // A new connection, first. False closes it.
        virtual bool on_open(socket_stream& stream) = 0;
        // The connection has bytes (or its end) to read. True keeps it.
        virtual bool on_ready(socket_stream& stream) = 0;
        // Nothing came within the stream's read time-out. True keeps it.
        virtual bool on_idle(socket_stream& stream) = 0;
        // Last, before the stream is freed.
        virtual void on_close(socket_stream& stream) = 0;
    };

    // A runner inside one serve for this long is taken to be blocked.
    static constexpr int kStallMs = 20;
    // A spare thread with nothing to do for this long ends.
    static constexpr int kSpareMs = 2000;
    // Threads beyond the cap of connections: the runners and the monitor.
    static constexpr size_t kExtraThreads = 8;

    // `maxThreads` bounds the runners, counted out ones included.
    event_core(handler& owner, size_t stackSize, size_t maxThreads);
    ~event_core();  // stop_all()
    event_core(const event_core&) = delete;
    event_core& operator=(const event_core&) = delete;

    // The epoll set, the stop event and the first threads; false with the
    // reason when one cannot be made.
    bool open(std::string& error);

    // Takes a connected socket. Past `cap` live connections, once stopping,
    // or when it cannot be watched, it is closed at once and the result is
    // false.
    bool add(int fd, size_t cap);

    // Refuses new connections, shuts down the ones being served, closes the
    // idle ones (on_close for each) and joins every thread.
    void stop_all();

    size_t live() const;
    size_t threads() const;  // runners and spares, not the monitor

  private:
    enum class conn_state { fresh, armed, busy };
    struct connection {
        uint64_t id = 0;
        std::unique_ptr<socket_stream> stream;
        conn_state state = conn_state::fresh;
        bool pending = false;  // an event came while it was busy
        bool hasDeadline = false;
        std::chrono::steady_clock::time_point deadline{};
    };
    struct runner_slot {
        // When the current serve began, in steady-clock nanoseconds; 0 while
        // waiting for an event.
        std::atomic<int64_t> servingSince{0};
        bool countedOut = false;  // under lock_
        bool inUse = false;       // a thread runs on it; under lock_
    };
    struct thread_args {
        event_core* core;
        runner_slot* slot;
    };

    static void* runner_main(void* raw);
    static void* monitor_main(void* raw);
    void runner_loop(runner_slot& slot);
    void monitor_loop();

    // Under lock_: starts a runner, false when none can be made.
    bool spawn_runner(std::unique_lock<std::mutex>& lock);
    // Takes the connection of an event for this thread; null when it is gone
    // or already taken.
    connection* claim(uint64_t id, bool& fresh);
    // Serves a taken connection until it waits again or ends.
    void serve(connection& conn, bool fresh);
    enum class wait_result { waiting, pending, stopping };
    // A served connection, its socket read dry, waits for its next event,
    // with a new deadline; unless an event came meanwhile, or the core stops.
    wait_result wait_again(connection& conn);
    // The same after on_idle, off the runners: true once it waits again.
    bool wait_again_or_wake(connection& conn);
    // on_close, and the connection is gone.
    void finish(connection& conn);
    // Monitor: counts out stalled runners and wakes or makes others.
    void check_runners(std::unique_lock<std::mutex>& lock);
    // Monitor: idle connections past their deadline, taken for on_idle.
    std::vector<connection*> take_expired(std::chrono::steady_clock::time_point now);
    // Runner: one of those, for on_idle and what follows.
    connection* take_one_expired();
    void serve_expired(connection& conn);
    void join_ended(std::unique_lock<std::mutex>& lock);

    handler& owner_;
    const size_t stackSize_;
    const size_t maxThreads_;
    size_t wantedRunners_ = 2;
    int epoll_ = -1;
    int stopEvent_ = -1;
    int expiredEvent_ = -1;  // counts expired_, one read per connection

    mutable std::mutex lock_;
    std::condition_variable spareWake_;    // spares wait here to become runners
    std::condition_variable monitorWake_;  // new connection or stop
    std::condition_variable allDone_;
    std::unordered_map<uint64_t, std::unique_ptr<connection>> conns_;
    std::vector<std::unique_ptr<runner_slot>> slots_;  // never shrinks while open
    std::vector<runner_slot*> freeSlots_;
    std::deque<connection*> expired_;  // taken (busy), waiting for a runner
    std::vector<pthread_t> ended_;
    uint64_t nextId_ = 1;       // 0 is the stop event
    size_t activeRunners_ = 0;  // runners not counted out
    size_t spares_ = 0;         // threads waiting in spareWake_
    size_t tickets_ = 0;        // spares called and not yet awake
    size_t threads_ = 0;        // runner threads not yet returned
    bool monitorRunning_ = false;
    pthread_t monitor_{};
    bool stopping_ = false;
    bool stopped_ = false;
};

}  // namespace net
