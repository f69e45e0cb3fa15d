#include "net/event_core.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "net/log.h"
#include "net/socket_stream.h"

namespace net {

namespace {

using clock_type = std::chrono::steady_clock;

// Keys in the epoll set besides the connections, which count from 1: the
// stop event, and the count of expired connections waiting for a runner.
constexpr uint64_t kStopKey = 0;
constexpr uint64_t kExpiredKey = UINT64_MAX;
// Idle deadlines are looked at every this many monitor ticks.
constexpr int kDeadlineTicks = 5;
// A connection's entry in the set, from the start.
constexpr uint32_t kConnectionEvents = EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               clock_type::now().time_since_epoch())
        .count();
}

size_t runner_count() {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return static_cast<size_t>(std::max(2L, cores)) * 2;
}

}  // namespace

event_core::event_core(handler& owner, size_t stackSize, size_t maxThreads)
    : owner_(owner),
      stackSize_(stackSize),
      maxThreads_(std::max<size_t>(maxThreads, 2)),
      wantedRunners_(std::min(runner_count(), maxThreads_)) {}

event_core::~event_core() {
    stop_all();
    if (stopEvent_ >= 0) {
        ::close(stopEvent_);
    }
    if (expiredEvent_ >= 0) {
        ::close(expiredEvent_);
    }
    if (epoll_ >= 0) {
        ::close(epoll_);
    }
}

bool event_core::open(std::string& error) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    expiredEvent_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
    if (epoll_ < 0 || stopEvent_ < 0 || expiredEvent_ < 0) {
        error = std::string("epoll: ") + std::strerror(errno);
        return false;
    }
    // Level-triggered. The stop event is never read: once written, every
    // runner sees it. The expired count is taken one by one, a runner each.
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.u64 = kStopKey;
    epoll_event expired{};
    expired.events = EPOLLIN;
    expired.data.u64 = kExpiredKey;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, stopEvent_, &stop) != 0 ||
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, expiredEvent_, &expired) != 0) {
        error = std::string("epoll: ") + std::strerror(errno);
        return false;
    }
    std::unique_lock<std::mutex> guard(lock_);
    auto* args = new thread_args{this, nullptr};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize_);
    const int rc = pthread_create(&monitor_, &attr, &event_core::monitor_main, args);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete args;
        error = std::string("no monitor thread: ") + std::strerror(rc);
        return false;
    }
    monitorRunning_ = true;
    while (activeRunners_ < wantedRunners_) {
        if (!spawn_runner(guard)) {
            error = "no runner thread";
            return false;
        }
    }
    return true;
}

bool event_core::spawn_runner(std::unique_lock<std::mutex>&) {
    if (threads_ >= maxThreads_) {
        return false;
    }
    runner_slot* slot = nullptr;
    if (!freeSlots_.empty()) {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
    } else {
        slots_.push_back(std::make_unique<runner_slot>());
        slot = slots_.back().get();
    }
    slot->countedOut = false;
    slot->inUse = true;
    slot->servingSince.store(0);
    auto* args = new thread_args{this, slot};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize_);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, &event_core::runner_main, args);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete args;
        slot->inUse = false;
        freeSlots_.push_back(slot);
        log::error4(__FILE__, __LINE__, __func__, "no thread for a runner (error %d)", rc);
        return false;
    }
    ++threads_;
    ++activeRunners_;
    return true;
}

void* event_core::runner_main(void* raw) {
    const thread_args args = *static_cast<thread_args*>(raw);
    delete static_cast<thread_args*>(raw);
    args.core->runner_loop(*args.slot);
    return nullptr;
}

void* event_core::monitor_main(void* raw) {
    const thread_args args = *static_cast<thread_args*>(raw);
    delete static_cast<thread_args*>(raw);
    args.core->monitor_loop();
    return nullptr;
}

void event_core::runner_loop(runner_slot& slot) {
    for (;;) {
        epoll_event event{};
        const int n = ::epoll_wait(epoll_, &event, 1, -1);
        if (n < 0 && errno != EINTR) {
            log::error4(__FILE__, __LINE__, __func__, "epoll_wait: %s", std::strerror(errno));
            break;
        }
        if (n <= 0) {
            continue;
        }
        if (event.data.u64 == kStopKey) {
            break;
        }
        if (event.data.u64 == kExpiredKey) {
            if (connection* conn = take_one_expired()) {
                slot.servingSince.store(now_ns());
                serve_expired(*conn);
                slot.servingSince.store(0);
            }
        } else {
            bool fresh = false;
            connection* conn = claim(event.data.u64, fresh);
            if (conn != nullptr) {
                slot.servingSince.store(now_ns());
                serve(*conn, fresh);
                slot.servingSince.store(0);
            }
        }
        std::unique_lock<std::mutex> guard(lock_);
        if (stopping_) {
            break;
        }
        if (!slot.countedOut) {
            continue;
        }
        // Counted out while blocked: a runner again if one is missing, else
        // a spare for a while.
        slot.countedOut = false;
        if (activeRunners_ + tickets_ < wantedRunners_) {
            ++activeRunners_;
            continue;
        }
        ++spares_;
        const bool called = spareWake_.wait_for(guard, std::chrono::milliseconds(kSpareMs),
                                                [this] { return stopping_ || tickets_ > 0; });
        --spares_;
        if (stopping_ || !called) {
            slot.countedOut = true;  // not among the active runners
            break;
        }
        --tickets_;
        ++activeRunners_;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (!slot.countedOut) {
        --activeRunners_;
    }
    --threads_;
    ended_.push_back(pthread_self());
    slot.inUse = false;
    freeSlots_.push_back(&slot);
    allDone_.notify_all();
    monitorWake_.notify_all();
}

event_core::connection* event_core::claim(uint64_t id, bool& fresh) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = conns_.find(id);
    if (it == conns_.end()) {
        return nullptr;
    }
    connection& conn = *it->second;
    if (conn.state == conn_state::busy) {
        // Bytes came while another thread serves it: that one looks again
        // before it lets the connection wait.
        conn.pending = true;
        return nullptr;
    }
    conn.pending = false;
    fresh = conn.state == conn_state::fresh;
    conn.state = conn_state::busy;
    return &conn;
}

void event_core::serve(connection& conn, bool fresh) {
    socket_stream& stream = *conn.stream;
    bool keep = true;
    if (fresh) {
        keep = owner_.on_open(stream);
    }
    while (keep) {
        bool drained = false;
        switch (stream.take_ready()) {
            case socket_stream::wait_result::ready:
                keep = owner_.on_ready(stream);
                drained = stream.drained();
                break;
            case socket_stream::wait_result::closed:
            case socket_stream::wait_result::timed_out:
                keep = false;
                break;
            case socket_stream::wait_result::nothing:
                drained = true;
                break;
        }
        if (keep && drained) {
            switch (wait_again(conn)) {
                case wait_result::waiting:
                    return;
                case wait_result::pending:
                    break;
                case wait_result::stopping:
                    keep = false;
                    break;
            }
        }
    }
    finish(conn);
}

event_core::wait_result event_core::wait_again(connection& conn) {
    const int timeout = conn.stream->get_rw_timeout();
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_) {
        return wait_result::stopping;
    }
    if (conn.pending) {
        conn.pending = false;
        return wait_result::pending;
    }
    conn.hasDeadline = timeout > 0;
    if (conn.hasDeadline) {
        conn.deadline = clock_type::now() + std::chrono::seconds(timeout);
    }
    conn.state = conn_state::armed;
    return wait_result::waiting;
}

bool event_core::wait_again_or_wake(connection& conn) {
    switch (wait_again(conn)) {
        case wait_result::waiting:
            return true;
        case wait_result::stopping:
            return false;
        case wait_result::pending:
            break;
    }
    // Bytes came while on_idle ran, and their event was taken: modifying
    // the entry makes the set report them again, to a runner.
    std::lock_guard<std::mutex> guard(lock_);
    conn.state = conn_state::armed;
    epoll_event event{};
    event.events = kConnectionEvents;
    event.data.u64 = conn.id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, conn.stream->sock_handle(), &event) == 0) {
        return true;
    }
    conn.state = conn_state::busy;
    return false;
}

event_core::connection* event_core::take_one_expired() {
    uint64_t one = 0;
    if (::read(expiredEvent_, &one, sizeof one) != sizeof one) {
        return nullptr;  // another runner took it
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (expired_.empty()) {
        return nullptr;
    }
    connection* conn = expired_.front();
    expired_.pop_front();
    return conn;
}

void event_core::serve_expired(connection& conn) {
    if (!owner_.on_idle(*conn.stream) || !wait_again_or_wake(conn)) {
        finish(conn);
    }
}

void event_core::finish(connection& conn) {
    owner_.on_close(*conn.stream);
    std::unique_ptr<connection> gone;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto it = conns_.find(conn.id);
        gone = std::move(it->second);
        conns_.erase(it);
        if (conns_.empty()) {
            allDone_.notify_all();
        }
    }
    // Closing the socket also takes it out of the epoll set.
}

bool event_core::add(int fd, size_t cap) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_ || epoll_ < 0 || conns_.size() >= cap) {
            ::close(fd);
            return false;
        }
        id = nextId_++;
        auto conn = std::make_unique<connection>();
        conn->id = id;
        conn->stream = std::make_unique<socket_stream>(fd);
        if (conns_.empty()) {
            monitorWake_.notify_all();
        }
        conns_.emplace(id, std::move(conn));
    }
    // A new socket can be written to at once, so this comes straight back,
    // to the first runner free, for on_open. Edge-triggered from then on:
    // each arrival of bytes is one event, and nothing is re-armed.
    epoll_event event{};
    event.events = kConnectionEvents;
    event.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) == 0) {
        return true;
    }
    log::error4(__FILE__, __LINE__, __func__, "epoll_ctl: %s", std::strerror(errno));
    std::unique_ptr<connection> gone;
    std::lock_guard<std::mutex> guard(lock_);
    const auto it = conns_.find(id);
    if (it != conns_.end() && it->second->state == conn_state::fresh) {
        gone = std::move(it->second);
        conns_.erase(it);
    }
    return false;
}

void event_core::monitor_loop() {
    std::unique_lock<std::mutex> guard(lock_);
    int tick = 0;
    while (!stopping_) {
        check_runners(guard);
        join_ended(guard);
        if (++tick >= kDeadlineTicks) {
            tick = 0;
            // Handed to the runners: on_idle and the close may take time.
            const std::vector<connection*> expired = take_expired(clock_type::now());
            if (!expired.empty()) {
                expired_.insert(expired_.end(), expired.begin(), expired.end());
                const uint64_t count = expired.size();
                [[maybe_unused]] const ssize_t n = ::write(expiredEvent_, &count, sizeof count);
            }
        }
        if (conns_.empty() && ended_.empty()) {
            monitorWake_.wait(guard,
                              [this] { return stopping_ || !conns_.empty() || !ended_.empty(); });
        } else {
            monitorWake_.wait_for(guard, std::chrono::milliseconds(kStallMs));
        }
    }
}

void event_core::check_runners(std::unique_lock<std::mutex>& guard) {
    const int64_t now = now_ns();
    const int64_t stall = static_cast<int64_t>(kStallMs) * 1000000;
    for (const auto& slot : slots_) {
        const int64_t since = slot->servingSince.load();
        if (since != 0 && !slot->countedOut && now - since >= stall && slot->inUse) {
            slot->countedOut = true;
            --activeRunners_;
        }
    }
    while (activeRunners_ + tickets_ < wantedRunners_) {
        if (spares_ > tickets_) {
            ++tickets_;
            spareWake_.notify_one();
        } else if (!spawn_runner(guard)) {
            break;  // at the bound: the next runner to come back takes over
        }
    }
}

std::vector<event_core::connection*> event_core::take_expired(clock_type::time_point now) {
    std::vector<connection*> expired;
    for (auto& [id, conn] : conns_) {
        if (conn->state == conn_state::armed && conn->hasDeadline && conn->deadline <= now) {
            conn->state = conn_state::busy;
            expired.push_back(conn.get());
        }
    }
    return expired;
}

void event_core::join_ended(std::unique_lock<std::mutex>& guard) {
    if (ended_.empty()) {
        return;
    }
    std::vector<pthread_t> ended;
    ended.swap(ended_);
    guard.unlock();
    for (const pthread_t thread : ended) {
        pthread_join(thread, nullptr);
    }
    guard.lock();
}

void event_core::stop_all() {
    std::unique_lock<std::mutex> guard(lock_);
    if (epoll_ < 0 || stopped_) {
        return;
    }
    stopping_ = true;
    // Every socket: the busy ones' reads and writes end at once, and the
    // waiting ones are closed below without waiting for their peers.
    for (auto& [id, conn] : conns_) {
        ::shutdown(conn->stream->sock_handle(), SHUT_RDWR);
    }
    spareWake_.notify_all();
    monitorWake_.notify_all();
    if (stopEvent_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopEvent_, &one, sizeof one);
    }
    allDone_.wait(guard, [this] { return threads_ == 0; });
    const bool monitor = monitorRunning_;
    monitorRunning_ = false;
    guard.unlock();
    if (monitor) {
        pthread_join(monitor_, nullptr);
    }
    guard.lock();
    join_ended(guard);
    // Only connections waiting in the set are left, and no thread is.
    std::vector<std::unique_ptr<connection>> left;
    for (auto& [id, conn] : conns_) {
        left.push_back(std::move(conn));
    }
    conns_.clear();
    expired_.clear();
    stopped_ = true;
    guard.unlock();
    for (auto& conn : left) {
        if (conn->state != conn_state::fresh) {
            owner_.on_close(*conn->stream);
        }
    }
}

size_t event_core::live() const {
    std::lock_guard<std::mutex> guard(lock_);
    return conns_.size();
}

size_t event_core::threads() const {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_;
}

}  // namespace net
