#include "app/CertutilOutput.h"

#include <cctype>

namespace zqt {

namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::vector<std::string> PemCertificateBodies(std::string_view text) {
    std::vector<std::string> bodies;
    size_t at = 0;
    for (;;) {
        const size_t begin = text.find(kBegin, at);
        if (begin == std::string_view::npos) {
            break;
        }
        const size_t start = begin + kBegin.size();
        const size_t end = text.find(kEnd, start);
        if (end == std::string_view::npos) {
            break;  // a cut-off block is no certificate
        }
        std::string body;
        for (char c : text.substr(start, end - start)) {
            if (!IsSpace(c)) {
                body.push_back(c);
            }
        }
        bodies.push_back(std::move(body));
        at = end + kEnd.size();
    }
    return bodies;
}

std::optional<std::string> ListedTrust(std::string_view listing, std::string_view nickname) {
    // Each entry is "<nickname><spaces><trust>", the trust being the last
    // word; nicknames may hold spaces themselves.
    while (!listing.empty()) {
        const size_t newline = listing.find('\n');
        std::string_view line = Trim(listing.substr(0, newline));
        listing =
            newline == std::string_view::npos ? std::string_view{} : listing.substr(newline + 1);
        size_t space = line.size();
        while (space > 0 && !IsSpace(line[space - 1])) {
            --space;
        }
        if (space == 0) {
            continue;
        }
        const std::string_view trust = line.substr(space);
        if (Trim(line.substr(0, space)) == nickname && trust.find(',') != std::string_view::npos) {
            return std::string(trust);
        }
    }
    return std::nullopt;
}

}  // namespace zqt
