#include "net/connection_threads.h"

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <climits>

#include "net/log.h"
#include "net/socket_stream.h"

namespace net {

connection_threads::connection_threads(serve_function serve, size_t stackSize)
    : serve_(std::move(serve)), stackSize_(std::max<size_t>(stackSize, PTHREAD_STACK_MIN)) {}

connection_threads::~connection_threads() {
    stop_all();
}

bool connection_threads::start(int fd, size_t cap) {
    std::unique_lock<std::mutex> guard(lock_);
    if (stopping_ || live_ >= cap) {
        guard.unlock();
        ::close(fd);
        return false;
    }
    if (!waiting_.empty()) {
        entry& slot = entries_[waiting_.back()];
        waiting_.pop_back();
        slot.waiting = false;
        slot.fd = fd;
        slot.next = fd;
        ++live_;
        slot.wake.notify_one();
        return true;
    }
    const uint64_t id = nextId_++;
    auto* args = new start_args{this, id, fd};
    entry& slot = entries_[id];
    slot.fd = fd;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, stackSize_);
    const int rc = pthread_create(&slot.thread, &attr, &connection_threads::thread_main, args);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        entries_.erase(id);
        guard.unlock();
        delete args;
        ::close(fd);
        log::error4(__FILE__, __LINE__, __func__, "no thread for a new connection (error %d)", rc);
        return false;
    }
    ++live_;
    ++threads_;
    return true;
}

void* connection_threads::thread_main(void* raw) {
    const start_args args = *static_cast<start_args*>(raw);
    delete static_cast<start_args*>(raw);
    args.owner->run(args.id, args.fd);
    return nullptr;
}

void connection_threads::run(uint64_t id, int fd) {
    while (fd >= 0) {
        {
            socket_stream stream(fd);
            serve_(stream);
            // The number may be reused as soon as the stream closes it, so stop
            // shutting it down first.
            forget_fd(id);
        }
        fd = next_connection(id);
    }
}

void connection_threads::forget_fd(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_[id].fd = -1;
}

int connection_threads::next_connection(uint64_t id) {
    std::unique_lock<std::mutex> guard(lock_);
    entry& slot = entries_[id];
    --live_;
    if (!stopping_ && waiting_.size() < kMaxWaiting) {
        slot.waiting = true;
        waiting_.push_back(id);
        allDone_.notify_all();
        slot.wake.wait_for(guard, std::chrono::milliseconds(kWaitingMs),
                           [&] { return slot.next >= 0 || stopping_; });
        const int fd = slot.next;
        slot.next = -1;
        if (fd >= 0) {
            return fd;  // start() took it off the waiting list
        }
        // Stopping, or no connection came in time.
        slot.waiting = false;
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), id));
    }
    slot.done = true;
    --threads_;
    ++ended_;
    allDone_.notify_all();
    return -1;
}

// Called with the lock held; joins outside it.
void connection_threads::join_done(std::unique_lock<std::mutex>& lock) {
    std::vector<pthread_t> ended;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.done) {
            ended.push_back(it->second.thread);
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
    ended_ -= ended.size();
    lock.unlock();
    for (const pthread_t thread : ended) {
        pthread_join(thread, nullptr);
    }
    lock.lock();
}

void connection_threads::reap() {
    if (ended_.load() == 0) {
        return;
    }
    std::unique_lock<std::mutex> guard(lock_);
    join_done(guard);
}

void connection_threads::stop_all() {
    std::unique_lock<std::mutex> guard(lock_);
    stopping_ = true;
    for (auto& [id, slot] : entries_) {
        if (slot.fd >= 0) {
            ::shutdown(slot.fd, SHUT_RDWR);
        }
        if (slot.waiting) {
            slot.wake.notify_one();
        }
    }
    allDone_.wait(guard, [this] { return live_ == 0 && threads_ == 0; });
    join_done(guard);
}

size_t connection_threads::live() const {
    std::lock_guard<std::mutex> guard(lock_);
    return live_;
}

}  // namespace net
