// The real daemon under umockdev-wrapper with the project's own list
// library and a SoftHSM token: plugging and pulling a known key model makes
// the cached list that pages read follow the token.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <umockdev.h>

#include "UmockdevDevices.h"

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ScratchDir.h"
#include "support/SoftHsmToken.h"

namespace {

using namespace std::chrono_literals;

constexpr int kPlainPort = 9651;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int ConnectLoopback() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(kPlainPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The whole reply to one 401 request (the cached list), head included;
// answers are small enough that chunk framing never splits a serial.
std::string CachedListReply() {
    const std::string body =
        "{\"ServeltData\":\"ProcessNum{1}ProcessEntity-1{FunctionType[401]}\"}";
    const std::string request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/json\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    int fd = ConnectLoopback();
    if (fd < 0) {
        return "<no connection>";
    }
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        char chunk[4096];
        ssize_t got = 0;
        while ((got = ::recv(fd, chunk, sizeof chunk, 0)) > 0) {
            reply.append(chunk, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

class UsbKeyReferenceListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testbed.reset(umockdev_testbed_new());  // sets UMOCKDEV_DIR for the child
        ASSERT_TRUE(testbed);
        token = std::make_unique<SoftHsmToken>(dir.file("softhsm"), "Key Token");
        token->Import(TestPki::Shared().rsa, "01", "rsa identity");
        StartService();
    }

    void TearDown() override {
        if (child > 0) {
            ::kill(child, SIGTERM);
            int status = 0;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << ReadFile(dir.file("stderr.txt"));
        }
    }

    void StartService() {
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            if (text.rfind("LD_LIBRARY_PATH=", 0) != 0 && text.rfind("TMPDIR=", 0) != 0 &&
                text.rfind("ZQT_", 0) != 0 && text.rfind("LD_PRELOAD=", 0) != 0 &&
                text.rfind("XDG_", 0) != 0) {
                env.push_back(text);  // SOFTHSM2_CONF, set by the token, among them
            }
        }
        env.push_back("LD_LIBRARY_PATH=" ZQT_REFERENCE_LIB_DIR);
        env.push_back("TMPDIR=" + dir.path().string());
        env.push_back("XDG_DATA_HOME=" + dir.file("data"));
        env.push_back("XDG_CONFIG_HOME=" + dir.file("config"));
        env.push_back("ZQT_REF_CONFIG=" + dir.file("config/reference.conf"));
        env.push_back(std::string("ZQT_PKCS11_MODULES=") + SoftHsmToken::kModule);
        env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
        std::vector<char*> envp;
        for (std::string& text : env) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);
        const std::string workdir = dir.path().string();
        const std::string stdoutPath = dir.file("stdout.txt");
        const std::string stderrPath = dir.file("stderr.txt");

        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(workdir.c_str()) != 0 ||
                std::freopen(stdoutPath.c_str(), "w", stdout) == nullptr ||
                std::freopen(stderrPath.c_str(), "w", stderr) == nullptr) {
                _exit(126);
            }
            char* argv[] = {const_cast<char*>(ZQT_UMOCKDEV_WRAPPER),
                            const_cast<char*>(ZQT_SERVICE_BINARY), nullptr};
            ::execve(ZQT_UMOCKDEV_WRAPPER, argv, envp.data());
            _exit(127);
        }
        ASSERT_TRUE(WaitForPort()) << ReadFile(stderrPath);
    }

    bool WaitForPort() {
        for (auto deadline = std::chrono::steady_clock::now() + 20s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(50ms)) {
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                child = -1;
                return false;
            }
            int fd = ConnectLoopback();
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
        }
        return false;
    }

    // Asks for the cached list until it satisfies `done`; the last reply.
    template <typename Done>
    std::string PollCachedList(Done done) {
        std::string reply;
        for (auto deadline = std::chrono::steady_clock::now() + 15s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(100ms)) {
            reply = CachedListReply();
            if (done(reply)) {
                break;
            }
        }
        return reply;
    }

    ScratchDir dir;
    TestbedPtr testbed;
    std::unique_ptr<SoftHsmToken> token;
    pid_t child = -1;
};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(UsbKeyReferenceListTest, PlugAndPullMakeTheCachedListFollowTheToken) {
    const std::string serial = TestPki::Shared().rsa.serial;
    const std::string key = AddUsbDevice(testbed.get(), "1-4", "usb_device", "055c", "7425", "K1");
    ASSERT_FALSE(key.empty());
    // The watcher caches the compact form: the token's certificate, no body.
    std::string reply = PollCachedList([&](const std::string& r) {
        return Contains(r, serial) && !Contains(r, "\"cert\"") && !Contains(r, "\\\"cert\\\"");
    });
    EXPECT_TRUE(Contains(reply, serial)) << reply;
    EXPECT_TRUE(Contains(reply, "Key Token")) << reply;
    EXPECT_FALSE(Contains(reply, "\"cert\"") || Contains(reply, "\\\"cert\\\"")) << reply;

    // Pulled: the watcher's fresh read finds nothing, and so does the
    // command's own read that follows from the emptied cache.
    token->Delete();
    umockdev_testbed_uevent(testbed.get(), key.c_str(), "remove");
    reply = PollCachedList([&](const std::string& r) { return !Contains(r, serial); });
    EXPECT_FALSE(Contains(reply, serial)) << reply;
    EXPECT_TRUE(Contains(reply, "FunctionRes[]")) << reply;
}

}  // namespace
