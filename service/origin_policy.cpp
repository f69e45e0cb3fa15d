#include "service/origin_policy.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The next blank-separated word of `rest`, taken off its front.
std::string_view NextWord(std::string_view& rest) {
    rest = Trimmed(rest);
    size_t end = 0;
    while (end < rest.size() && !IsBlank(rest[end])) {
        ++end;
    }
    std::string_view word = rest.substr(0, end);
    rest = Trimmed(rest.substr(end));
    return word;
}

}  // namespace

origin_policy origin_policy::Parse(std::string_view text, std::optional<parse_error>& error) {
    origin_policy policy;
    error.reset();
    int number = 0;
    while (!text.empty()) {
        ++number;
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        line = Trimmed(line);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.find('\0') != std::string_view::npos) {
            error = parse_error{number, "a NUL byte"};
            return DenyAll();
        }
        std::string_view rest = line;
        const std::string_view verb = NextWord(rest);
        const std::string_view word = NextWord(rest);
        if (verb != "allow" && verb != "deny") {
            error = parse_error{number, "expected \"allow\" or \"deny\""};
            return DenyAll();
        }
        if (word.empty() || !rest.empty()) {
            error = parse_error{number, "expected one pattern after \"" + std::string(verb) + "\""};
            return DenyAll();
        }
        std::optional<origin_pattern> pattern = origin_pattern::Parse(word);
        if (!pattern) {
            error = parse_error{number, "not an origin pattern: " + std::string(word)};
            return DenyAll();
        }
        const bool allow = verb == "allow";
        policy.listsAllowed_ = policy.listsAllowed_ || (allow && !pattern->MatchesAbsent());
        policy.rules_.push_back(rule{allow, *pattern});
    }
    return policy;
}

origin_policy origin_policy::DenyAll() {
    origin_policy policy;
    policy.denyAll_ = true;
    return policy;
}

bool origin_policy::Admits(const char* origin) const {
    if (denyAll_) {
        return false;
    }
    for (const rule& r : rules_) {
        if (r.pattern.Matches(origin)) {
            return r.allow;
        }
    }
    const bool absent = origin == nullptr || *origin == '\0';
    return absent || !listsAllowed_;
}
