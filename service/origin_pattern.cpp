#include "service/origin_pattern.h"

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = Lower(c);
    }
    return out;
}

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsScheme(std::string_view s) {
    if (s.empty() || !IsAlpha(s[0])) {
        return false;
    }
    for (char c : s) {
        if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') {
            return false;
        }
    }
    return true;
}

// A DNS name or IPv4 address: labels of letters, digits and '-', no empty one.
bool IsHostName(std::string_view s) {
    if (s.empty() || s.front() == '.' || s.back() == '.') {
        return false;
    }
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '.' ? s[i + 1] == '.' : !(IsAlpha(c) || IsDigit(c) || c == '-')) {
            return false;
        }
    }
    return true;
}

bool IsBracketedIpv6(std::string_view s) {
    if (s.size() < 4 || s.front() != '[' || s.back() != ']') {
        return false;
    }
    for (char c : s.substr(1, s.size() - 2)) {
        if (!IsDigit(c) && !(Lower(c) >= 'a' && Lower(c) <= 'f') && c != ':' && c != '.') {
            return false;
        }
    }
    return true;
}

bool IsPort(std::string_view s) {
    if (s.empty() || s.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : s) {
        if (!IsDigit(c)) {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value >= 1 && value <= 65535;
}

struct origin_parts {
    std::string_view scheme;  // with "://"
    std::string_view host;
    std::string_view port;  // with ':' or empty
};

// Splits "scheme://host[:port]" without judging the host.
std::optional<origin_parts> Split(std::string_view text) {
    const size_t sep = text.find("://");
    if (sep == std::string_view::npos) {
        return std::nullopt;
    }
    origin_parts parts;
    parts.scheme = text.substr(0, sep + 3);
    std::string_view rest = text.substr(sep + 3);
    const size_t bracket = rest.rfind(']');
    const size_t colon = rest.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        parts.port = rest.substr(colon);
        rest = rest.substr(0, colon);
    }
    parts.host = rest;
    return parts;
}

}  // namespace

std::optional<origin_pattern> origin_pattern::Parse(std::string_view text) {
    origin_pattern pattern;
    if (text == "none") {
        pattern.kind_ = kind::absent;
        return pattern;
    }
    if (text == "*") {
        pattern.kind_ = kind::any;
        return pattern;
    }
    if (text == "null") {
        pattern.host_ = "null";
        return pattern;
    }
    const std::optional<origin_parts> parts = Split(text);
    if (!parts || !IsScheme(parts->scheme.substr(0, parts->scheme.size() - 3)) ||
        (!parts->port.empty() && !IsPort(parts->port.substr(1)))) {
        return std::nullopt;
    }
    if (parts->host.starts_with("*.")) {
        if (!IsHostName(parts->host.substr(2))) {
            return std::nullopt;
        }
        pattern.kind_ = kind::subdomains;
        pattern.scheme_ = Lowered(parts->scheme);
        pattern.host_ = Lowered(parts->host.substr(1));
        pattern.port_ = std::string(parts->port);
        return pattern;
    }
    if (!IsHostName(parts->host) && !IsBracketedIpv6(parts->host)) {
        return std::nullopt;
    }
    pattern.host_ = Lowered(text);
    return pattern;
}

bool origin_pattern::Matches(const char* origin) const {
    const bool absent = origin == nullptr || *origin == '\0';
    switch (kind_) {
        case kind::absent:
            return absent;
        case kind::any:
            return !absent;
        case kind::exact:
            return !absent && Lowered(origin) == host_;
        case kind::subdomains:
            break;
    }
    if (absent) {
        return false;
    }
    const std::string text = Lowered(origin);
    const std::optional<origin_parts> parts = Split(text);
    // At least one label before the suffix: "https://example.com" is not a
    // subdomain of itself, and "https://.example.com" is no host.
    return parts && parts->scheme == scheme_ && parts->port == port_ &&
           parts->host.size() > host_.size() && parts->host.ends_with(host_) &&
           IsHostName(parts->host);
}
