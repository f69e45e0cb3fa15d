#pragma once
// Shared by the pinentry client's tests: a scratch folder, scripts written
// into it, environment changes undone at the end of a test, and a child
// process for what must not touch the test process itself (its session,
// its controlling terminal).

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "pin/PinEntry.h"
#include "support/FakePinentry.h"

namespace pintest {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = "/tmp/zqt-pin-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Writes an executable /bin/sh script; returns its path.
inline std::string WriteScript(const std::string& path, const std::string& body) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "#!/bin/sh\n" << body;
    }
    ::chmod(path.c_str(), 0755);
    return path;
}

// Sets (or, with nullopt, unsets) environment variables; restores them when it goes.
class EnvGuard {
  public:
    EnvGuard() = default;
    ~EnvGuard() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

    void Set(const std::string& name, const std::optional<std::string>& value) {
        if (saved_.find(name) == saved_.end()) {
            const char* old = ::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> saved_;
};

inline int CountOpenFds() {
    int count = 0;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) {
        return -1;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    ::closedir(dir);
    return count - 1;  // the directory stream's own descriptor
}

inline ref::PinEntrySettings Settings(const std::string& program, int timeoutSeconds = 30) {
    ref::PinEntrySettings settings;
    settings.program = program;
    settings.timeoutSeconds = timeoutSeconds;
    return settings;
}

inline ref::PinRequest Request(const std::string& description = "Sign with CN=test") {
    ref::PinRequest request;
    request.title = "zqtca";
    request.description = description;
    request.prompt = "PIN:";
    return request;
}

inline const char* StatusName(ref::PinStatus status) {
    switch (status) {
        case ref::PinStatus::kOk:
            return "kOk";
        case ref::PinStatus::kCancelled:
            return "kCancelled";
        case ref::PinStatus::kUnavailable:
            return "kUnavailable";
    }
    return "?";
}

// Runs `body` in a forked child (the test process is single-threaded) and
// returns what it returned; "child failed" when it did not end normally.
inline std::string InChild(const std::function<std::string()>& body) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "pipe failed";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string result;
        try {
            result = body();
        } catch (...) {
            result = "child threw";
        }
        size_t done = 0;
        while (done < result.size()) {
            const ssize_t written = ::write(fds[1], result.data() + done, result.size() - done);
            if (written <= 0) {
                break;
            }
            done += static_cast<size_t>(written);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        result.append(buffer, static_cast<size_t>(got));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "child failed";
    }
    return result;
}

// Every test starts with a display set, so no tty is looked for, and with
// a fake pinentry of its own.
class PinEntryTest : public ::testing::Test {
  protected:
    PinEntryTest() : fake_(scratch_.file("fake")) {
        env_.Set("DISPLAY", ":zqt-test");
        env_.Set("WAYLAND_DISPLAY", std::nullopt);
    }

    ScratchDir scratch_;
    EnvGuard env_;
    FakePinentry fake_;
};

}  // namespace pintest
