#include "net/connection_threads.h"

#include <sys/socket.h>
#include <unistd.h>
#include <algorithm>
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
    return true;
}

void* connection_threads::thread_main(void* raw) {
    const start_args args = *static_cast<start_args*>(raw);
    delete static_cast<start_args*>(raw);
    args.owner->run(args.id, args.fd);
    return nullptr;
}

void connection_threads::run(uint64_t id, int fd) {
    {
        socket_stream stream(fd);
        serve_(stream);
        // The number may be reused as soon as the stream closes it, so stop
        // shutting it down first.
        forget_fd(id);
    }
    finished(id);
}

void connection_threads::forget_fd(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_[id].fd = -1;
}

void connection_threads::finished(uint64_t id) {
    std::lock_guard<std::mutex> guard(lock_);
    entries_[id].done = true;
    --live_;
    allDone_.notify_all();
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
    lock.unlock();
    for (const pthread_t thread : ended) {
        pthread_join(thread, nullptr);
    }
    lock.lock();
}

void connection_threads::reap() {
    std::unique_lock<std::mutex> guard(lock_);
    join_done(guard);
}

void connection_threads::stop_all() {
    std::unique_lock<std::mutex> guard(lock_);
    stopping_ = true;
    for (const auto& [id, slot] : entries_) {
        if (slot.fd >= 0) {
            ::shutdown(slot.fd, SHUT_RDWR);
        }
    }
    allDone_.wait(guard, [this] { return live_ == 0; });
    join_done(guard);
}

size_t connection_threads::live() const {
    std::lock_guard<std::mutex> guard(lock_);
    return live_;
}

}  // namespace net
