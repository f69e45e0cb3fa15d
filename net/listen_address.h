#pragma once
// The address list a listener is given: "127.0.0.1:9651, 127.0.0.1:9652".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace net {

struct listen_address {
    uint32_t ip;    // host byte order
    uint16_t port;  // 0: any free port
    std::string text;
};

// Each entry is a dotted IPv4 address on the loopback network 127.0.0.0/8,
// a colon and a port 0 to 65535; blanks around entries are ignored. False,
// with the reason in `error`, for an empty list or any entry that is not.
bool parse_listen_addresses(std::string_view list, std::vector<listen_address>& out,
                            std::string& error);

}  // namespace net
