// An allocation failure inside a handler costs that connection and nothing
// else. This binary replaces the global allocation functions so that a test
// can make one allocation fail for real, on one thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>

#include "tests/net/net_core_testkit.h"

namespace {

thread_local bool failNextAllocation = false;
void* volatile allocationSink = nullptr;  // keeps the compiler from eliding the allocation

void* allocate(std::size_t size) {
    if (failNextAllocation) {
        failNextAllocation = false;
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using namespace net::test;

const std::string kGet = "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

TEST(FaultBoundary, AnAllocationFailureEndsOnlyItsConnection) {
    event_log log;
    test_master server(log);
    server.rwTimeout = 5;
    std::atomic<int> reads{0};
    // The second request anywhere fails to allocate in its handler.
    server.onRead = [&](net::socket_stream& stream) {
        if (++reads == 2) {
            failNextAllocation = true;
            allocationSink = ::operator new(4096);  // fails
            ::operator delete(allocationSink);
            return true;
        }
        return static_cast<net::HttpServlet*>(stream.get_ctx())->doRun("", &stream);
    };
    testing::internal::CaptureStderr();
    {
        server_runner running(server);
        ASSERT_TRUE(running.listening());
        raw_client survivor(running.port());
        ASSERT_TRUE(survivor.send(kGet));
        EXPECT_EQ(survivor.read_answer().body, "GET /x");

        raw_client victim(running.port());
        ASSERT_TRUE(victim.send(kGet));
        EXPECT_TRUE(victim.peer_closed());
        ASSERT_TRUE(log.wait_count("close", 1));

        // The other connection and new ones are still served.
        ASSERT_TRUE(survivor.send(kGet));
        EXPECT_EQ(survivor.read_answer().body, "GET /x");
        raw_client later(running.port());
        ASSERT_TRUE(later.send(kGet));
        EXPECT_EQ(later.read_answer().body, "GET /x");
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("ended by an error: std::bad_alloc"), std::string::npos) << errors;
    // One line for the one connection it cost.
    size_t lines = 0;
    for (size_t at = errors.find("ended by an error"); at != std::string::npos;
         at = errors.find("ended by an error", at + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u);
    EXPECT_EQ(log.count("accept"), 3u);
    EXPECT_EQ(log.count("close"), 3u);  // close still comes once per connection
}

}  // namespace
