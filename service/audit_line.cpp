#include "service/audit_line.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

std::string QuotedOrigin(const std::string& origin) {
    std::string out = "\"";
    const size_t kept = origin.size() > kMaxAuditOriginBytes ? kMaxAuditOriginBytes : origin.size();
    for (size_t i = 0; i < kept; ++i) {
        const auto c = static_cast<unsigned char>(origin[i]);
        if (c < 0x20 || c >= 0x7f || c == '"' || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (kept < origin.size()) {
        out += "...";
    }
    return out + "\"";
}

std::string Functions(const RunSummary& ran) {
    if (ran.functionTypes.empty()) {
        return "-";
    }
    std::string out;
    const size_t count = ran.functionTypes.size();
    for (size_t i = 0; i < count && i < kMaxAuditFunctions; ++i) {
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(ran.functionTypes[i]);
    }
    if (count > kMaxAuditFunctions) {
        out += ",...(" + std::to_string(count) + " in all)";
    }
    return out;
}

}  // namespace

std::string AuditLine(std::time_t when, const request_caller& caller, const RunSummary& ran,
                      bool refused) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[64];
    if (std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local) == 0) {
        stamp[0] = '\0';
    }
    return std::string("audit time=") + stamp + " origin=" + QuotedOrigin(caller.origin) +
           " transport=" + (caller.transport != nullptr ? caller.transport : "?") +
           " functions=" + Functions(ran) + " chain=" +
           (refused         ? "refused"
            : ran.succeeded ? "ok"
                            : "failed") +
           "\n";
}

void WriteAuditLine(const request_caller& caller, const RunSummary& ran, bool refused) {
    const std::string line = AuditLine(std::time(nullptr), caller, ran, refused);
    // One write, so that lines from other threads never cut into it.
    size_t done = 0;
    while (done < line.size()) {
        const ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;  // nowhere to write: the request is not held up for it
        }
        done += static_cast<size_t>(n);
    }
}
