// The real daemon under umockdev-wrapper, as a child of this test: the test
// bed plugs and pulls USB devices, and the cached certificate-and-seal list
// is read back the way a page reads it, through a 401 request on 9651.
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

namespace {

using namespace std::chrono_literals;

constexpr int kPlainPort = 9651;
constexpr const char* kXepaExport = "GetCertAndSeallistXEPA";
constexpr const char* kListExport = "GetCertAndSeallist";

int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A chunked body put back together; "<bad chunking>" when it does not parse.
std::string Dechunk(const std::string& chunked) {
    std::string body;
    size_t at = 0;
    for (;;) {
        const size_t lineEnd = chunked.find("\r\n", at);
        if (lineEnd == std::string::npos) {
            return "<bad chunking>";
        }
        const size_t size = std::stoul(chunked.substr(at, lineEnd - at), nullptr, 16);
        if (size == 0) {
            return body;
        }
        at = lineEnd + 2;
        if (at + size + 2 > chunked.size()) {
            return "<bad chunking>";
        }
        body.append(chunked, at, size);
        at += size + 2;
    }
}

// The answer body of one POST carrying `steps` as the request text.
std::string PostSteps(const std::string& steps) {
    const std::string body = "{\"ServeltData\":\"" + steps + "\"}";
    const std::string request =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
        "Content-Type: application/json\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body;
    int fd = ConnectLoopback(kPlainPort);
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
    const size_t headEnd = reply.find("\r\n\r\n");
    if (headEnd == std::string::npos) {
        return "<no answer>";
    }
    const std::string head = reply.substr(0, headEnd);
    const std::string answer = reply.substr(headEnd + 4);
    return head.find("Transfer-Encoding: chunked") != std::string::npos ? Dechunk(answer) : answer;
}

std::string CachedListAnswer() {
    return PostSteps("ProcessNum{1}ProcessEntity-1{FunctionType[401]}");
}

std::string Expected401(const std::string& list) {
    return "FunctionType[401]FunctionRes[" + list + "]ProcessCallBackName[]";
}

class UsbKeyServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Sets UMOCKDEV_DIR in this process, which the child inherits.
        testbed.reset(umockdev_testbed_new());
        ASSERT_TRUE(testbed);
        WriteXepaList("");
        StartService();
    }

    void TearDown() override {
        if (child > 0) {
            ::kill(child, SIGTERM);
            EXPECT_EQ(WaitChild(), 0) << ReadFile(dir.file("stderr.txt"));
        }
    }

    void StartService() {
        const std::string stdoutPath = dir.file("stdout.txt");
        const std::string stderrPath = dir.file("stderr.txt");
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            // The wrapper sets the preload itself.
            if (text.rfind("LD_LIBRARY_PATH=", 0) != 0 && text.rfind("TMPDIR=", 0) != 0 &&
                text.rfind("ZQT_", 0) != 0 && text.rfind("LD_PRELOAD=", 0) != 0) {
                env.push_back(text);
            }
        }
        env.push_back("LD_LIBRARY_PATH=" ZQT_SIDELIB_DIR);
        env.push_back("TMPDIR=" + dir.path().string());
        env.push_back("ZQT_SIDELIB_LIST=PLAIN");
        env.push_back("ZQT_SIDELIB_LIST_XEPA=file:" + dir.file("xepa.txt"));
        env.push_back("ZQT_SIDELIB_CALLS=" + dir.file("calls.txt"));
        // The preload comes after the sanitizer runtime in an asan build.
        env.push_back("ASAN_OPTIONS=verify_asan_link_order=0");
        std::vector<char*> envp;
        for (std::string& text : env) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);
        const std::string workdir = dir.path().string();

        child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::chdir(workdir.c_str()) != 0) {
                _exit(126);
            }
            FILE* out = std::freopen(stdoutPath.c_str(), "w", stdout);
            FILE* err = std::freopen(stderrPath.c_str(), "w", stderr);
            if (out == nullptr || err == nullptr) {
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
            int fd = ConnectLoopback(kPlainPort);
            if (fd >= 0) {
                ::close(fd);
                return true;
            }
        }
        return false;
    }

    int WaitChild() {
        int status = 0;
        if (::waitpid(child, &status, 0) != child) {
            return -1;
        }
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    void WriteXepaList(const std::string& list) {
        std::ofstream(dir.file("xepa.txt"), std::ios::binary | std::ios::trunc) << list;
    }

    // How many times the side library was asked for a list by `exportName`
    // (each read asks twice: for the size, then for the bytes).
    int Calls(const char* exportName) {
        std::istringstream lines(ReadFile(dir.file("calls.txt")));
        std::string name;
        std::string rest;
        int count = 0;
        while (lines >> name && std::getline(lines, rest)) {
            count += name == exportName ? 1 : 0;
        }
        return count;
    }

    // Waits until the watcher has read the XEPA list `reads` times in all.
    bool WaitForXepaReads(int reads) {
        for (auto deadline = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(20ms)) {
            if (Calls(kXepaExport) >= 2 * reads) {
                return true;
            }
        }
        return false;
    }

    std::string AddUsb(const char* name, const char* devtype, const char* vendor,
                       const char* product, const char* serial) {
        return ::AddUsbDevice(testbed.get(), name, devtype, vendor, product, serial);
    }

    void Uevent(const std::string& path, const char* action) {
        umockdev_testbed_uevent(testbed.get(), path.c_str(), action);
    }

    ScratchDir dir;
    TestbedPtr testbed;
    pid_t child = -1;
};

TEST_F(UsbKeyServiceTest, PlugAndPullOfAKnownKeyReplaceTheCachedList) {
    // Nothing cached yet: the first 401 reads the plain list.
    EXPECT_EQ(CachedListAnswer(), Expected401("PLAIN"));
    EXPECT_EQ(Calls(kListExport), 2);
    EXPECT_EQ(Calls(kXepaExport), 0);

    WriteXepaList("KEY-IN");
    const std::string key = AddUsb("1-3", "usb_device", "055c", "7425", "SN42");
    ASSERT_FALSE(key.empty());
    ASSERT_TRUE(WaitForXepaReads(1));
    EXPECT_EQ(CachedListAnswer(), Expected401("KEY-IN"));

    // The removal is announced before the device leaves the test bed.
    WriteXepaList("KEY-OUT");
    Uevent(key, "remove");
    ASSERT_TRUE(WaitForXepaReads(2));
    EXPECT_EQ(CachedListAnswer(), Expected401("KEY-OUT"));
    umockdev_testbed_remove_device(testbed.get(), key.c_str());

    // The cache answered both times; the plain list was never read again.
    EXPECT_EQ(Calls(kListExport), 2);
}

TEST_F(UsbKeyServiceTest, OtherDevicesAndActionsRefreshNothing) {
    WriteXepaList("FIRST");
    const std::string key = AddUsb("2-1", "usb_device", "5448", "0003", "");
    ASSERT_TRUE(WaitForXepaReads(1));
    EXPECT_EQ(CachedListAnswer(), Expected401("FIRST"));

    WriteXepaList("MUST-NOT-APPEAR");
    const std::string other = AddUsb("2-2", "usb_device", "1234", "7425", "X");
    const std::string otherModel = AddUsb("2-3", "usb_device", "055c", "0003", "Y");
    const std::string iface = AddUsb("2-1:1.0", "usb_interface", "5448", "0003", "");
    ASSERT_FALSE(other.empty());
    ASSERT_FALSE(otherModel.empty());
    ASSERT_FALSE(iface.empty());
    Uevent(key, "bind");
    Uevent(key, "change");
    Uevent(key, "unbind");
    Uevent(other, "remove");
    Uevent(iface, "remove");

    // Events are handled in order, so once this one has been read, every
    // event before it has been handled too.
    WriteXepaList("SENTINEL");
    Uevent(key, "remove");
    ASSERT_TRUE(WaitForXepaReads(2));
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Calls(kXepaExport), 4);
    EXPECT_EQ(CachedListAnswer(), Expected401("SENTINEL"));
}

TEST_F(UsbKeyServiceTest, AnEmptyListFromTheKeyEmptiesTheCache) {
    WriteXepaList("SOMETHING");
    const std::string key = AddUsb("3-1", "usb_device", "055c", "7425", "E");
    ASSERT_TRUE(WaitForXepaReads(1));
    EXPECT_EQ(CachedListAnswer(), Expected401("SOMETHING"));

    // The refresh replaces the cache even with nothing, so the next 401
    // finds it empty and reads the plain list.
    WriteXepaList("");
    Uevent(key, "remove");
    ASSERT_TRUE(WaitForXepaReads(2));
    EXPECT_EQ(CachedListAnswer(), Expected401("PLAIN"));
    EXPECT_EQ(Calls(kListExport), 2);
}

}  // namespace
