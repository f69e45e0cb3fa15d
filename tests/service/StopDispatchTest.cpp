// The dispatch at a stop: the request running may finish, none starts after.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "net/adaptive_mutex.h"
#include "service/request_dispatch.h"

namespace {

// A runner that holds its caller until released, counting its runs.
struct held_runner {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool released = false;
    std::atomic<int> runs{0};

    std::u16string run(std::u16string request) {
        ++runs;
        std::unique_lock guard(lock);
        entered = true;
        changed.notify_all();
        changed.wait(guard, [&] { return released; });
        return request;
    }
    void wait_entered() {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return entered; });
    }
    void release() {
        std::lock_guard guard(lock);
        released = true;
        changed.notify_all();
    }
};

TEST(StopDispatch, AClosedDispatchRunsNothing) {
    net::adaptive_mutex lock;
    int runs = 0;
    request_dispatch dispatch(lock, [&](std::u16string r) {
        ++runs;
        return r;
    });
    EXPECT_EQ(dispatch.RunRequestText("a"), "a");
    dispatch.Close();
    EXPECT_THROW(dispatch.RunRequestText("b"), request_dropped);
    EXPECT_EQ(runs, 1);
    ASSERT_TRUE(lock.try_lock());  // a dropped request leaves the lock free
    lock.unlock();
}

TEST(StopDispatch, TheRunningRequestFinishesAndTheWaitingOneIsDropped) {
    net::adaptive_mutex lock;
    held_runner runner;
    request_dispatch dispatch(lock, [&](std::u16string r) { return runner.run(std::move(r)); });

    std::string first;
    std::thread running([&] { first = dispatch.RunRequestText("first"); });
    runner.wait_entered();
    EXPECT_EQ(dispatch.Running(), 1);

    bool dropped = false;
    std::thread waiting([&] {
        try {
            dispatch.RunRequestText("second");
        } catch (const request_dropped&) {
            dropped = true;
        }
    });
    // Give the second request time to queue on the lock; it is dropped
    // whether or not it got there first.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    dispatch.Close();
    runner.release();
    running.join();
    waiting.join();

    EXPECT_EQ(first, "first");
    EXPECT_TRUE(dropped);
    EXPECT_EQ(runner.runs.load(), 1);
    EXPECT_EQ(dispatch.Running(), 0);
}

TEST(StopDispatch, ARunnerThatThrowsIsNoLongerCountedAsRunning) {
    net::adaptive_mutex lock;
    request_dispatch dispatch(lock,
                              [](std::u16string) -> std::u16string { throw std::bad_alloc(); });
    EXPECT_THROW(dispatch.RunRequestText("x"), std::bad_alloc);
    EXPECT_EQ(dispatch.Running(), 0);
}

}  // namespace
