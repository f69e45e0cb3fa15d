#include "support/FakePinentry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

// One word for sh, whatever it holds: '...' with every ' as '\''.
std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

// As pinentry sends data: '%', CR, LF (and other control bytes) as %XX.
std::string AssuanData(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '%' || byte < 0x20) {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0x0F]);
        } else {
            out.push_back(c);
        }
    }
    return out;
}

[[noreturn]] void Throw(const std::string& what) {
    throw std::runtime_error("FakePinentry: " + what + ": " + std::strerror(errno));
}

// Writes `content` to a temporary file in `dir` (close-on-exec, so no child
// started meanwhile keeps it open for writing: ETXTBSY), makes it
// executable and renames it over `path`: a run sees the old or the new
// program, never half of one.
void WriteAtomically(const std::string& dir, const std::string& path, const std::string& content) {
    std::string temp = dir + "/.fake-pinentry.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        Throw("cannot create " + temp);
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t written = ::write(fd, content.data() + done, content.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            ::close(fd);
            ::unlink(temp.c_str());
            Throw("cannot write " + temp);
        }
        done += static_cast<size_t>(written);
    }
    if (::fchmod(fd, 0755) != 0 || ::close(fd) != 0) {
        ::unlink(temp.c_str());
        Throw("cannot finish " + temp);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        Throw("cannot rename " + temp + " to " + path);
    }
}

bool IsCommand(const std::string& line, const std::string& command) {
    return line.compare(0, command.size(), command) == 0 &&
           (line.size() == command.size() || line[command.size()] == ' ');
}

}  // namespace

FakePinentry::FakePinentry(const std::string& dir)
    : dir_(dir), program_(dir + "/fake-pinentry"), log_(dir + "/fake-pinentry.log") {
    std::filesystem::create_directories(dir_);
    Set(Action::kCancel);  // until told otherwise, nobody gets a PIN by accident
}

void FakePinentry::Set(Action action, const std::string& pin) {
    const std::string givePin =
        pin.empty() ? "printf 'OK\\n'" : "printf 'D %s\\nOK\\n' " + ShellQuote(AssuanData(pin));
    const std::string cancel = "printf 'ERR 83886179 Operation cancelled <Pinentry>\\n'";
    const std::string timeout =
        "printf 'S ERROR tty.? 83886142\\nERR 83886142 Timeout <Pinentry>\\n'";
    const std::string crash = "exit 1";

    std::string onGetpin;
    std::string onConfirm;
    switch (action) {
        case Action::kPin:
            onGetpin = givePin;
            onConfirm = "printf 'OK\\n'";
            break;
        case Action::kCancel:
            onGetpin = cancel;
            onConfirm = cancel;
            break;
        case Action::kTimeout:
            onGetpin = timeout;
            onConfirm = timeout;
            break;
        case Action::kCrash:
            onGetpin = crash;
            onConfirm = crash;
            break;
        case Action::kConfirm:
            onGetpin = givePin;
            onConfirm = "printf 'OK\\n'";
            break;
        case Action::kDecline:
            onGetpin = cancel;
            onConfirm = "printf 'ERR 83886194 Not confirmed <Pinentry>\\n'";
            break;
    }

    std::ostringstream script;
    script << "#!/bin/sh\n"
           << "# A stand-in for pinentry written by FakePinentry (tests/reference/support).\n"
           << "log=" << ShellQuote(log_) << "\n"
           << "printf 'OK Pleased to meet you\\n'\n"
           << "while IFS= read -r line || [ -n \"$line\" ]; do\n"
           << "    printf '%s\\n' \"$line\" >> \"$log\"\n"
           << "    case $line in\n"
           << "        GETPIN|'GETPIN '*)\n"
           << "            " << onGetpin << "\n"
           << "            ;;\n"
           << "        CONFIRM|'CONFIRM '*)\n"
           << "            " << onConfirm << "\n"
           << "            ;;\n"
           << "        BYE|'BYE '*)\n"
           << "            printf 'OK closing connection\\n'\n"
           << "            exit 0\n"
           << "            ;;\n"
           << "        *)\n"
           << "            printf 'OK\\n'\n"
           << "            ;;\n"
           << "    esac\n"
           << "done\n"
           << "exit 0\n";
    WriteAtomically(dir_, program_, script.str());
}

std::vector<std::string> FakePinentry::Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(log_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

int FakePinentry::PinPrompts() const {
    int count = 0;
    for (const std::string& line : Lines()) {
        count += IsCommand(line, "GETPIN") ? 1 : 0;
    }
    return count;
}

int FakePinentry::Confirms() const {
    int count = 0;
    for (const std::string& line : Lines()) {
        count += IsCommand(line, "CONFIRM") ? 1 : 0;
    }
    return count;
}

void FakePinentry::ClearLog() const {
    const int fd = ::open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        Throw("cannot empty " + log_);
    }
    ::close(fd);
}
