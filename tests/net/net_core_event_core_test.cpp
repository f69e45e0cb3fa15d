// The event core on its own, over socket pairs: each connection is served
// by one thread at a time, a blocked serve holds up nobody else, idle ones
// time out, and the stop closes each connection exactly once.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/event_core.h"
#include "net/socket_stream.h"
#include "tests/net/net_core_testkit.h"

namespace {

using namespace std::chrono_literals;
using net::socket_stream;
using net::test::event_log;
using net::test::kPatience;

// Echoes what it reads, upper-cased, and records its calls as
// "open N", "idle N", "close N" (N the socket's number). A byte 'b'
// blocks the serve until release(); a byte 'q' ends the connection.
class echo_handler : public net::event_core::handler {
  public:
    int timeoutSeconds = 0;
    std::atomic<bool> keepWhenIdle{false};
    event_log log;

    void release() {
        std::lock_guard<std::mutex> guard(lock_);
        released_ = true;
        changed_.notify_all();
    }
    // How many serves run on different threads at once, at most.
    int most_at_once() const { return mostAtOnce_.load(); }

    bool on_open(socket_stream& stream) override {
        stream.set_rw_timeout(timeoutSeconds);
        log.add("open " + std::to_string(stream.sock_handle()));
        return true;
    }
    bool on_ready(socket_stream& stream) override {
        const int now = ++inside_;
        int most = mostAtOnce_.load();
        while (now > most && !mostAtOnce_.compare_exchange_weak(most, now)) {
        }
        const bool keep = serve(stream);
        --inside_;
        return keep;
    }
    bool on_idle(socket_stream& stream) override {
        log.add("idle " + std::to_string(stream.sock_handle()));
        return keepWhenIdle.load();
    }
    void on_close(socket_stream& stream) override {
        log.add("close " + std::to_string(stream.sock_handle()));
    }

  private:
    bool serve(socket_stream& stream) {
        char byte = 0;
        if (stream.read(&byte, 1) != 1 || byte == 'q') {
            return false;
        }
        if (byte == 'b') {
            log.add("blocked");
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait(guard, [this] { return released_; });
        }
        const char answer = static_cast<char>(byte >= 'a' && byte <= 'z' ? byte - 32 : byte);
        return stream.write(&answer, 1);
    }

    std::mutex lock_;
    std::condition_variable changed_;
    bool released_ = false;
    std::atomic<int> inside_{0};
    std::atomic<int> mostAtOnce_{0};
};

// One end of a socket pair for the core, the other for the test.
struct pair_end {
    int core = -1;
    int peer = -1;
};

pair_end MakePair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    return {fds[0], fds[1]};
}

// What the peer reads within the patience: "" at the end, "?" on time-out.
std::string ReadOne(int fd, std::chrono::milliseconds limit = kPatience) {
    timeval tv{static_cast<time_t>(limit.count() / 1000),
               static_cast<suseconds_t>((limit.count() % 1000) * 1000)};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char byte;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    if (n == 1) {
        return std::string(1, byte);
    }
    return n == 0 ? "" : "?";
}

void Send(int fd, const char* bytes) {
    ASSERT_EQ(::send(fd, bytes, std::strlen(bytes), MSG_NOSIGNAL),
              static_cast<ssize_t>(std::strlen(bytes)));
}

class EventCore : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(core_.open(error)) << error;
    }
    void TearDown() override {
        handler_.release();
        core_.stop_all();
        for (const pair_end& end : pairs_) {
            ::close(end.peer);
        }
    }
    pair_end& Add(size_t cap = 1024) {
        pairs_.push_back(MakePair());
        EXPECT_TRUE(core_.add(pairs_.back().core, cap));
        return pairs_.back();
    }

    echo_handler handler_;
    net::event_core core_{handler_, 256 * 1024, 64};
    std::deque<pair_end> pairs_;  // references to its ends stay valid
};

TEST_F(EventCore, KeepsServingEachConnectionRequestAfterRequest) {
    std::vector<pair_end*> ends;
    for (int i = 0; i < 50; ++i) {
        ends.push_back(&Add());
    }
    for (int round = 0; round < 3; ++round) {
        for (pair_end* end : ends) {
            Send(end->peer, "a");
        }
        for (pair_end* end : ends) {
            EXPECT_EQ(ReadOne(end->peer), "A");
        }
    }
    // Bytes sent together are all served, without another wake-up.
    Send(ends[0]->peer, "xyz");
    std::string answer = ReadOne(ends[0]->peer);
    answer += ReadOne(ends[0]->peer);
    answer += ReadOne(ends[0]->peer);
    EXPECT_EQ(answer, "XYZ");
    EXPECT_EQ(core_.live(), 50u);
    // A connection is never served on two threads at once, so with one
    // request each in flight a handful of runners is enough.
    EXPECT_LE(core_.threads(), 8u);
}

TEST_F(EventCore, ABlockedServeHoldsUpNoOtherConnection) {
    pair_end& blocked = Add();
    Send(blocked.peer, "b");
    ASSERT_TRUE(handler_.log.wait_count("blocked", 1));
    const size_t before = core_.threads();
    // Every other connection, old and new, is still served, many times over
    // the number of runners.
    for (int i = 0; i < 20; ++i) {
        pair_end& other = Add();
        Send(other.peer, "c");
        EXPECT_EQ(ReadOne(other.peer), "C");
    }
    EXPECT_GE(core_.threads(), before);
    EXPECT_EQ(ReadOne(blocked.peer, 100ms), "?");
    handler_.release();
    EXPECT_EQ(ReadOne(blocked.peer), "B");
    // And it is served again afterwards.
    Send(blocked.peer, "d");
    EXPECT_EQ(ReadOne(blocked.peer), "D");
}

TEST_F(EventCore, TwoBlockedServesEachGetAThreadOfTheirOwn) {
    pair_end& first = Add();
    pair_end& second = Add();
    Send(first.peer, "b");
    Send(second.peer, "b");
    ASSERT_TRUE(handler_.log.wait_count("blocked", 2));
    EXPECT_EQ(handler_.most_at_once(), 2);
    pair_end& third = Add();
    Send(third.peer, "e");
    EXPECT_EQ(ReadOne(third.peer), "E");
}

TEST_F(EventCore, AnIdleConnectionTimesOutThenCloses) {
    handler_.timeoutSeconds = 1;
    pair_end& idle = Add();
    const std::string fd = std::to_string(idle.core);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadOne(idle.peer), "");  // closed by the core
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
    ASSERT_TRUE(handler_.log.wait_count("close " + fd, 1));
    EXPECT_EQ(handler_.log.snapshot(),
              (std::vector<std::string>{"open " + fd, "idle " + fd, "close " + fd}));
}

TEST_F(EventCore, AnIdleConnectionKeptByOnIdleIsServedLater) {
    handler_.timeoutSeconds = 1;
    handler_.keepWhenIdle = true;
    pair_end& idle = Add();
    ASSERT_TRUE(handler_.log.wait_count("idle " + std::to_string(idle.core), 2));
    Send(idle.peer, "f");
    EXPECT_EQ(ReadOne(idle.peer), "F");
}

TEST_F(EventCore, TheEndOfAConnectionClosesItOnce) {
    pair_end& ending = Add();
    const std::string fd = std::to_string(ending.core);
    Send(ending.peer, "q");
    ASSERT_TRUE(handler_.log.wait_count("close " + fd, 1));
    pair_end& hungUp = Add();
    ::shutdown(hungUp.peer, SHUT_WR);
    ASSERT_TRUE(handler_.log.wait_count("close " + std::to_string(hungUp.core), 1));
    EXPECT_EQ(ReadOne(hungUp.peer), "");
    EXPECT_EQ(core_.live(), 0u);
}

TEST_F(EventCore, PastTheCapANewConnectionIsClosedAtOnce) {
    Add(2);
    Add(2);
    pair_end extra = MakePair();
    EXPECT_FALSE(core_.add(extra.core, 2));
    EXPECT_EQ(ReadOne(extra.peer), "");
    ::close(extra.peer);
    EXPECT_EQ(core_.live(), 2u);
}

TEST_F(EventCore, TheStopClosesConnectionsInEveryStateOnceEach) {
    pair_end& blocked = Add();
    Send(blocked.peer, "b");
    ASSERT_TRUE(handler_.log.wait_count("blocked", 1));
    std::vector<pair_end*> idle;
    for (int i = 0; i < 10; ++i) {
        idle.push_back(&Add());
    }
    Send(idle[0]->peer, "g");
    EXPECT_EQ(ReadOne(idle[0]->peer), "G");
    ASSERT_TRUE(handler_.log.wait_count("open " + std::to_string(idle.back()->core), 1));
    std::thread releaser([this] {
        std::this_thread::sleep_for(200ms);
        handler_.release();
    });
    core_.stop_all();
    releaser.join();
    EXPECT_EQ(core_.threads(), 0u);
    EXPECT_EQ(core_.live(), 0u);
    std::map<std::string, int> closes;
    for (const std::string& event : handler_.log.snapshot()) {
        if (event.rfind("close ", 0) == 0) {
            ++closes[event];
        }
    }
    EXPECT_EQ(closes.size(), 11u);
    for (const auto& [event, times] : closes) {
        EXPECT_EQ(times, 1) << event;
    }
    pair_end late = MakePair();
    EXPECT_FALSE(core_.add(late.core, 1024));
    ::close(late.peer);
}

}  // namespace
