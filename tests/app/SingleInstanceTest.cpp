#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "app/SingleInstance.h"

namespace {

// A name of this test run's own, so a running service or a parallel test never collides.
std::string UniqueName() {
    static std::atomic<int> counter{0};
    return " zqt-app-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// Binds a socket by hand at the abstract address of `name`, `extra` bytes longer.
int BindByHand(const std::string& name, std::size_t extra, int& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size() + extra);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    error = 0;
    return fd;
}

TEST(SingleInstance, TheServiceNameBeginsWithASpace) {
    EXPECT_STREQ(zqt::kServiceInstanceName, " CZQTCAServiceClient_https");
    zqt::SingleInstanceGuard guard;
    EXPECT_EQ(guard.name(), " CZQTCAServiceClient_https");
    EXPECT_FALSE(guard.Held());
}

TEST(SingleInstance, SecondAcquireInTheSameProcessFails) {
    const std::string name = UniqueName();
    zqt::SingleInstanceGuard first(name);
    zqt::SingleInstanceGuard second(name);
    ASSERT_TRUE(first.Acquire());
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(second.Acquire());
    EXPECT_EQ(second.lastError(), EADDRINUSE);
    EXPECT_FALSE(second.Held());
    EXPECT_TRUE(first.Acquire()) << "acquiring again while holding keeps it";
}

TEST(SingleInstance, AfterReleaseItCanBeTakenAgain) {
    const std::string name = UniqueName();
    zqt::SingleInstanceGuard second(name);
    {
        zqt::SingleInstanceGuard first(name);
        ASSERT_TRUE(first.Acquire());
        first.Release();
        EXPECT_FALSE(first.Held());
        ASSERT_TRUE(second.Acquire());
        second.Release();
        ASSERT_TRUE(first.Acquire());
    }
    EXPECT_TRUE(second.Acquire()) << "the destructor releases the name";
}

TEST(SingleInstance, NameWithoutTheLeadingSpaceDoesNotCollide) {
    const std::string name = UniqueName();
    zqt::SingleInstanceGuard withSpace(name);
    zqt::SingleInstanceGuard withoutSpace(name.substr(1));
    ASSERT_TRUE(withSpace.Acquire());
    EXPECT_TRUE(withoutSpace.Acquire());
}

TEST(SingleInstance, BindsTheExactAbstractAddress) {
    const std::string name = UniqueName();
    zqt::SingleInstanceGuard guard(name);
    ASSERT_TRUE(guard.Acquire());
    int error = 0;
    EXPECT_EQ(BindByHand(name, 0, error), -1);
    EXPECT_EQ(error, EADDRINUSE);
    // One byte longer (a trailing NUL) is another name: the guard's length is exact.
    const int longer = BindByHand(name, 1, error);
    EXPECT_GE(longer, 0) << std::strerror(error);
    if (longer >= 0) {
        ::close(longer);
    }
}

TEST(SingleInstance, TakenByHandIsSeenAsTaken) {
    const std::string name = UniqueName();
    int error = 0;
    const int fd = BindByHand(name, 0, error);
    ASSERT_GE(fd, 0) << std::strerror(error);
    zqt::SingleInstanceGuard guard(name);
    EXPECT_FALSE(guard.Acquire());
    EXPECT_EQ(guard.lastError(), EADDRINUSE);
    ::close(fd);
    EXPECT_TRUE(guard.Acquire());
}

// With no descriptor left the guard reports the socket's own error, not
// "taken": the service must not mistake it for another instance. Checked
// in-process, so it runs under every sanitizer too.
TEST(SingleInstance, NoDescriptorLeftIsNotTaken) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        filler.push_back(fd);
    }
    const int openError = errno;
    zqt::SingleInstanceGuard guard(UniqueName());
    const bool acquired = guard.Acquire();
    const int guardError = guard.lastError();
    for (const int fd : filler) {
        ::close(fd);
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_EQ(openError, EMFILE);
    EXPECT_FALSE(acquired);
    EXPECT_EQ(guardError, EMFILE);
    EXPECT_TRUE(guard.Acquire()) << std::strerror(guard.lastError());
}

TEST(SingleInstance, UnusableNamesFailWithoutBinding) {
    zqt::SingleInstanceGuard empty("");
    EXPECT_FALSE(empty.Acquire());
    EXPECT_EQ(empty.lastError(), EINVAL);
    zqt::SingleInstanceGuard tooLong(std::string(sizeof(sockaddr_un::sun_path), 'x'));
    EXPECT_FALSE(tooLong.Acquire());
    EXPECT_EQ(tooLong.lastError(), ENAMETOOLONG);
    std::string longestName = UniqueName();
    longestName.resize(sizeof(sockaddr_un::sun_path) - 1, 'y');
    zqt::SingleInstanceGuard longest(longestName);
    EXPECT_TRUE(longest.Acquire()) << std::strerror(longest.lastError());
}

TEST(SingleInstance, TheSocketIsNotInheritedAcrossExec) {
    const std::string name = UniqueName();
    zqt::SingleInstanceGuard guard(name);
    ASSERT_TRUE(guard.Acquire());
    // Find the guard's descriptor: the one bound at our name.
    bool found = false;
    for (int fd = 3; fd < 1024 && !found; ++fd) {
        sockaddr_un address{};
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            address.sun_family != AF_UNIX) {
            continue;
        }
        const std::size_t nameLength = length - offsetof(sockaddr_un, sun_path);
        if (nameLength == name.size() + 1 && address.sun_path[0] == '\0' &&
            std::memcmp(address.sun_path + 1, name.data(), name.size()) == 0) {
            found = true;
            EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
        }
    }
    EXPECT_TRUE(found);
}

TEST(SingleInstance, AKilledHolderFreesTheNameAtOnce) {
    const std::string name = UniqueName();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        zqt::SingleInstanceGuard guard(name);
        const char held = guard.Acquire() ? 'y' : 'n';
        (void)!::write(ready[1], &held, 1);
        for (;;) {
            ::pause();
        }
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, 'y');

    zqt::SingleInstanceGuard guard(name);
    EXPECT_FALSE(guard.Acquire());
    EXPECT_EQ(guard.lastError(), EADDRINUSE);

    ASSERT_EQ(::kill(child, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_TRUE(guard.Acquire());
}

}  // namespace
