#include "net/listen_address.h"
#include "net/text_trim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <charconv>

namespace net {

namespace {

bool parse_port(std::string_view text, uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

bool parse_one(std::string_view entry, listen_address& out, std::string& error) {
    const size_t colon = entry.rfind(':');
    if (colon == std::string_view::npos) {
        error = "no port in address \"" + std::string(entry) + "\"";
        return false;
    }
    const std::string host(entry.substr(0, colon));
    in_addr addr{};
    if (inet_pton(AF_INET, host.c_str(), &addr) != 1) {
        error = "not an IPv4 address: \"" + std::string(entry) + "\"";
        return false;
    }
    const uint32_t ip = ntohl(addr.s_addr);
    if ((ip >> 24) != 127) {
        error = "refusing to listen outside the loopback network: \"" + std::string(entry) + "\"";
        return false;
    }
    if (!parse_port(entry.substr(colon + 1), out.port)) {
        error = "bad port in address \"" + std::string(entry) + "\"";
        return false;
    }
    out.ip = ip;
    out.text = std::string(entry);
    return true;
}

}  // namespace

bool parse_listen_addresses(std::string_view list, std::vector<listen_address>& out,
                            std::string& error) {
    out.clear();
    while (true) {
        const size_t comma = list.find(',');
        const std::string_view entry = trimmed(list.substr(0, comma));
        if (!entry.empty()) {
            listen_address address;
            if (!parse_one(entry, address, error)) {
                out.clear();
                return false;
            }
            out.push_back(std::move(address));
        }
        if (comma == std::string_view::npos) {
            break;
        }
        list.remove_prefix(comma + 1);
    }
    if (out.empty()) {
        error = "no address to listen on";
        return false;
    }
    return true;
}

}  // namespace net
