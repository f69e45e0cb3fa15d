#pragma once
// A mutex whose waiters spin a little before they sleep. For locks that are
// held for a few microseconds by many threads (the dispatch lock, the log's
// line lock): a waiter then usually gets the lock while spinning, without a
// trip through the scheduler, which costs more than the wait itself.

#include <pthread.h>

namespace zqt {

class adaptive_mutex {
  public:
    adaptive_mutex() {
        pthread_mutexattr_t attr;
        pthread_mutexattr_init(&attr);
        pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ADAPTIVE_NP);
        pthread_mutex_init(&mutex_, &attr);
        pthread_mutexattr_destroy(&attr);
    }
    ~adaptive_mutex() { pthread_mutex_destroy(&mutex_); }
    adaptive_mutex(const adaptive_mutex&) = delete;
    adaptive_mutex& operator=(const adaptive_mutex&) = delete;

    // BasicLockable and Lockable, for std::lock_guard and its kin.
    void lock() { pthread_mutex_lock(&mutex_); }
    bool try_lock() { return pthread_mutex_trylock(&mutex_) == 0; }
    void unlock() { pthread_mutex_unlock(&mutex_); }

  private:
    pthread_mutex_t mutex_;
};

}  // namespace zqt
