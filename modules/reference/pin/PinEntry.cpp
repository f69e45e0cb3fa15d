#include "pin/PinEntry.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "pin/AssuanConnection.h"
#include "pin/AssuanText.h"
#include "pin/PinEntryProcess.h"

extern char** environ;

namespace ref {

namespace {

using pinentry::AssuanConnection;
using pinentry::Clock;
using pinentry::CommandLine;
using pinentry::Io;
using pinentry::PinEntryProcess;

// The longest answer taken; the Secret gets this room up front so that
// appending never reallocates (a reallocation would leave an unwiped copy).
constexpr size_t kMaxSecret = 2048;
// Our own deadline is pinentry's timeout plus this much.
constexpr int kDeadlineSlackSeconds = 15;
constexpr int kMaxTimeoutSeconds = 24 * 3600;
// How long pinentry may take to leave after BYE, and after the conversation
// broke off (it closed its output or input: it is leaving, or should be).
constexpr auto kExitGrace = std::chrono::seconds(3);
constexpr auto kBrokenGrace = std::chrono::seconds(1);
constexpr size_t kMaxErrorText = 200;

// gpg-error codes with source pinentry (5 << 24).
constexpr long kErrCanceled = 83886179;      // GPG_ERR_CANCELED
constexpr long kErrTimeout = 83886142;       // GPG_ERR_TIMEOUT
constexpr long kErrNotConfirmed = 83886194;  // GPG_ERR_NOT_CONFIRMED

// Where the D lines of an answer go.
struct Sink {
    Secret* secret = nullptr;  // none: D lines are dropped
    bool overflow = false;
};

void AppendData(std::string_view data, Sink& sink) {
    if (sink.secret != nullptr && !sink.overflow) {
        sink.overflow = !pinentry::UnescapeOnto(data, *sink.secret, kMaxSecret);
    }
}

// An empty secret with room for kMaxSecret bytes.
Secret RoomySecret() {
    Secret secret{std::string(kMaxSecret, '\0')};
    secret.Wipe();  // keeps the capacity
    return secret;
}

bool StartsWithWord(std::string_view line, std::string_view word) {
    return line.substr(0, word.size()) == word &&
           (line.size() == word.size() || line[word.size()] == ' ');
}

struct Reply {
    enum Kind { kOk, kErr, kIo, kUnexpected } kind = kOk;
    Io io = Io::kOk;
    long code = 0;
    std::string text;  // of an ERR
};

// Sends `line` (nothing when empty: the greeting) and reads up to its OK or ERR.
Reply Transact(AssuanConnection& connection, std::string_view line, Sink& sink) {
    Reply reply;
    if (!line.empty()) {
        reply.io = connection.Send(line);
        if (reply.io != Io::kOk) {
            reply.kind = Reply::kIo;
            return reply;
        }
    }
    for (;;) {
        std::string_view got;
        reply.io = connection.Receive(got);
        if (reply.io != Io::kOk) {
            reply.kind = Reply::kIo;
            return reply;
        }
        if (StartsWithWord(got, "OK")) {
            reply.kind = Reply::kOk;
            return reply;
        }
        if (StartsWithWord(got, "ERR")) {
            std::string_view rest = got.substr(3);
            while (!rest.empty() && rest.front() == ' ') {
                rest.remove_prefix(1);
            }
            long code = 0;
            size_t digits = 0;
            while (digits < rest.size() && digits < 12 && rest[digits] >= '0' &&
                   rest[digits] <= '9') {
                code = code * 10 + (rest[digits] - '0');
                ++digits;
            }
            rest.remove_prefix(digits);
            while (!rest.empty() && rest.front() == ' ') {
                rest.remove_prefix(1);
            }
            reply.kind = Reply::kErr;
            reply.code = code;
            reply.text.assign(rest.substr(0, kMaxErrorText));
            return reply;
        }
        if (StartsWithWord(got, "D")) {
            AppendData(got.substr(std::min<size_t>(2, got.size())), sink);
            continue;
        }
        if (StartsWithWord(got, "S") || (!got.empty() && got.front() == '#')) {
            continue;  // status and comment lines
        }
        if (StartsWithWord(got, "INQUIRE")) {
            // We set nothing pinentry would inquire about; refuse it.
            reply.io = connection.Send("CAN");
            if (reply.io != Io::kOk) {
                reply.kind = Reply::kIo;
                return reply;
            }
            continue;
        }
        reply.kind = Reply::kUnexpected;  // never echoed: it might hold anything
        return reply;
    }
}

std::string CommandName(std::string_view line) {
    return std::string(line.substr(0, line.find(' ')));
}

struct Terminal {
    bool display = false;  // DISPLAY or WAYLAND_DISPLAY set
    std::string tty;       // where to prompt without a display; empty: none
    std::string type;      // TERM, or "dumb"
};

bool IsSet(const char* name) {
    const char* value = ::getenv(name);
    return value != nullptr && *value != '\0';
}

Terminal FindTerminal() {
    Terminal terminal;
    terminal.display = IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY");
    if (terminal.display) {
        return terminal;
    }
    char name[4096];
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::ttyname_r(fd, name, sizeof name) == 0) {
            terminal.tty = name;
            break;
        }
    }
    if (terminal.tty.empty()) {
        const int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            terminal.tty = "/dev/tty";
        }
    }
    terminal.type = IsSet("TERM") ? ::getenv("TERM") : "dumb";
    return terminal;
}

PinAnswer Answer(PinStatus status, std::string detail) {
    PinAnswer answer;
    answer.status = status;
    answer.detail = std::move(detail);
    return answer;
}

PinAnswer FromErr(const Reply& reply, const std::string& stage) {
    switch (reply.code) {
        case kErrCanceled:
            return Answer(PinStatus::kCancelled, "cancelled");
        case kErrTimeout:
            return Answer(PinStatus::kCancelled, "timed out");
        case kErrNotConfirmed:
            return Answer(PinStatus::kCancelled, "not confirmed");
        default:
            break;
    }
    std::string detail = "pinentry answered " + stage + " with ERR " + std::to_string(reply.code);
    if (!reply.text.empty()) {
        detail += " " + reply.text;
    }
    return Answer(PinStatus::kUnavailable, detail);
}

// The conversation broke off: the child is killed or has gone, and reaped.
PinAnswer FromBroken(const Reply& reply, const std::string& stage, PinEntryProcess& process,
                     const AssuanConnection& connection, Clock::time_point deadline) {
    if (reply.kind == Reply::kUnexpected) {
        process.Kill();
        return Answer(PinStatus::kUnavailable, "pinentry sent an unexpected line at " + stage);
    }
    switch (reply.io) {
        case Io::kTimeout:
            process.Kill();
            return Answer(PinStatus::kCancelled, "timed out");
        case Io::kEof:
        case Io::kBrokenPipe: {
            process.Finish(std::min(deadline, Clock::now() + kBrokenGrace));
            std::string detail = reply.io == Io::kEof ? "pinentry ended without answering "
                                                      : "pinentry stopped reading at ";
            detail += stage;
            const std::string how = process.HowItEnded();
            if (!how.empty()) {
                detail += " (" + how + ")";
            }
            return Answer(PinStatus::kUnavailable, detail);
        }
        case Io::kTooLong:
            process.Kill();
            return Answer(PinStatus::kUnavailable, "pinentry sent an over-long line at " + stage);
        case Io::kError:
        case Io::kOk:
            break;
    }
    process.Kill();
    return Answer(PinStatus::kUnavailable,
                  "cannot talk to pinentry: error " + std::to_string(connection.lastErrno()));
}

// One prompt: start pinentry, greet, set up, `finalCommand`, BYE.
PinAnswer Converse(const PinEntrySettings& settings, const std::vector<std::string>& setup,
                   const std::string& finalCommand, bool wantsPin) {
    const std::string& program = settings.program;
    if (program.empty()) {
        return Answer(PinStatus::kUnavailable, "no pinentry program configured");
    }
    if (program.front() != '/') {
        return Answer(PinStatus::kUnavailable,
                      "the pinentry program is not an absolute path: " + program);
    }
    const int timeout = std::clamp(settings.timeoutSeconds, 1, kMaxTimeoutSeconds);
    const auto deadline = Clock::now() + std::chrono::seconds(timeout + kDeadlineSlackSeconds);

    const Terminal terminal = FindTerminal();
    std::vector<std::string> lines;
    if (!terminal.display && !terminal.tty.empty()) {
        lines.push_back(CommandLine("OPTION", "ttyname=" + terminal.tty));
        lines.push_back(CommandLine("OPTION", "ttytype=" + terminal.type));
    }
    lines.insert(lines.end(), setup.begin(), setup.end());
    lines.push_back("SETTIMEOUT " + std::to_string(timeout));
    lines.push_back(finalCommand);

    PinEntryProcess process;
    std::string error;
    if (!process.Start(program, pinentry::PassedEnvironment(environ), error)) {
        return Answer(PinStatus::kUnavailable, "pinentry " + program + ": " + error);
    }

    PinAnswer answer;
    Reply reply;
    {
        AssuanConnection connection(process.output(), process.input(), deadline);
        Secret pin = RoomySecret();
        Sink none;
        Sink data;
        data.secret = wantsPin ? &pin : nullptr;

        std::string stage = "the greeting";
        reply = Transact(connection, "", none);
        for (size_t i = 0; i < lines.size() && reply.kind == Reply::kOk; ++i) {
            const bool last = i + 1 == lines.size();
            stage = CommandName(lines[i]);
            reply = Transact(connection, lines[i], last ? data : none);
            if (reply.kind == Reply::kErr && stage == "OPTION") {
                reply = Reply{};  // an option this flavour does not know
            }
        }

        if (reply.kind == Reply::kIo || reply.kind == Reply::kUnexpected) {
            answer = FromBroken(reply, stage, process, connection, deadline);
        } else {
            // The conversation is intact: say goodbye, then let it leave.
            const Reply bye = Transact(connection, "BYE", none);
            if (bye.kind == Reply::kIo && bye.io == Io::kTimeout) {
                process.Kill();
            }
            process.Finish(std::min(deadline, Clock::now() + kExitGrace));
            if (reply.kind == Reply::kErr) {
                answer = FromErr(reply, stage);
            } else if (data.overflow) {
                answer = Answer(PinStatus::kUnavailable, "pinentry's answer is too long");
            } else {
                answer.status = PinStatus::kOk;
                if (wantsPin) {
                    answer.pin = std::move(pin);
                }
            }
        }
    }  // the connection's buffer is wiped here, the PIN's copy if not moved

    // Nowhere to show a prompt: whatever pinentry answered short of a PIN
    // (curses: "Inappropriate ioctl", tty: "cancelled") is not the user's
    // doing. Our own deadline stays a timeout.
    const bool deadlinePassed = reply.kind == Reply::kIo && reply.io == Io::kTimeout;
    if (answer.status != PinStatus::kOk && !deadlinePassed && !terminal.display &&
        terminal.tty.empty()) {
        answer.status = PinStatus::kUnavailable;
        answer.detail =
            "no display or terminal for pinentry (DISPLAY and WAYLAND_DISPLAY unset, no tty): " +
            answer.detail;
    }
    return answer;
}

PinAnswer Guarded(const PinEntrySettings& settings, const std::vector<std::string>& setup,
                  const std::string& finalCommand, bool wantsPin) {
    try {
        return Converse(settings, setup, finalCommand, wantsPin);
    } catch (const std::exception& e) {
        // Only allocation can throw here; the child is reaped by unwinding.
        return Answer(PinStatus::kUnavailable, std::string("pinentry: ") + e.what());
    }
}

}  // namespace

PinAnswer AskPin(const PinEntrySettings& settings, const PinRequest& request) {
    std::vector<std::string> setup;
    if (!request.title.empty()) {
        setup.push_back(CommandLine("SETTITLE", request.title));
    }
    setup.push_back(CommandLine("SETDESC", request.description));
    if (!request.prompt.empty()) {
        setup.push_back(CommandLine("SETPROMPT", request.prompt));
    }
    if (!request.error.empty()) {
        setup.push_back(CommandLine("SETERROR", request.error));
    }
    if (request.repeat) {
        setup.push_back("SETREPEAT Repeat:");
    }
    return Guarded(settings, setup, "GETPIN", true);
}

PinAnswer AskConfirm(const PinEntrySettings& settings, const std::string& title,
                     const std::string& description) {
    std::vector<std::string> setup;
    if (!title.empty()) {
        setup.push_back(CommandLine("SETTITLE", title));
    }
    setup.push_back(CommandLine("SETDESC", description));
    return Guarded(settings, setup, "CONFIRM", false);
}

}  // namespace ref
