// Stop signals as bytes on a pipe, with no signal left blocked for children,
// and closed standard descriptors reopened on /dev/null.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <thread>

#include "app/StandardDescriptors.h"
#include "app/StopSignals.h"

namespace {

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

TEST(StopSignals, EachStopSignalArrivesAsItsNumber) {
    zqt::StopSignals signals;
    ASSERT_TRUE(signals.Install());
    EXPECT_EQ(signals.Take(), 0);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ASSERT_EQ(::raise(sig), 0);  // the process lives on
        ASSERT_TRUE(Readable(signals.fd(), 1000));
        EXPECT_EQ(signals.Take(), sig);
    }
    ::kill(::getpid(), SIGTERM);
    ::kill(::getpid(), SIGTERM);
    ASSERT_TRUE(Readable(signals.fd(), 1000));
    EXPECT_EQ(signals.Take(), SIGTERM);  // the second stop is there for the asking
}

TEST(StopSignals, NoThreadStartedAfterwardsBlocksThem) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    // Whoever started us blocked it: the handler must still be reachable.
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &stop, nullptr), 0);
    zqt::StopSignals signals;
    ASSERT_TRUE(signals.Install());
    int blocked = -1;
    std::thread([&] {
        sigset_t now;
        pthread_sigmask(SIG_SETMASK, nullptr, &now);
        blocked =
            sigismember(&now, SIGTERM) + sigismember(&now, SIGINT) + sigismember(&now, SIGHUP);
    }).join();
    EXPECT_EQ(blocked, 0);
}

TEST(StopSignals, LeavesTheDefaultActionsBehind) {
    {
        zqt::StopSignals signals;
        ASSERT_TRUE(signals.Install());
    }
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction now {};
        ASSERT_EQ(::sigaction(sig, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << sig;
    }
}

// In a child: closes `closed`, reopens, and exits 0 only when each of them
// is /dev/null and the others are what they were.
int ReopenInChild(std::initializer_list<int> closed) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (int fd = 3; fd < 1024; ++fd) {
            ::close(fd);
        }
        for (int fd : closed) {
            ::close(fd);
        }
        zqt::OpenMissingStandardDescriptors();
        for (int fd : closed) {
            char link[PATH_MAX] = {};
            const std::string path = "/proc/self/fd/" + std::to_string(fd);
            if (::readlink(path.c_str(), link, sizeof link - 1) < 0 ||
                std::string(link) != "/dev/null") {
                ::_exit(10 + fd);
            }
        }
        // Nothing beyond 0-2 was left open by the repair.
        const int next = ::open("/dev/null", O_RDONLY);
        ::_exit(next == 3 ? 0 : 20);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardDescriptors, ClosedOnesAreOpenedOnDevNull) {
    EXPECT_EQ(ReopenInChild({0}), 0);
    EXPECT_EQ(ReopenInChild({1, 2}), 0);
    EXPECT_EQ(ReopenInChild({0, 1, 2}), 0);
    EXPECT_EQ(ReopenInChild({}), 0);
}

}  // namespace
