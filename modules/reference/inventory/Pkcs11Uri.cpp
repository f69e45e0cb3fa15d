#include "inventory/Pkcs11Uri.h"

#include <cctype>

#include "core/Text.h"

namespace ref {
namespace {

constexpr std::string_view kScheme = "pkcs11:";

bool Unreserved(unsigned char c) {
    return std::isalnum(c) != 0 || c == '-' || c == '.' || c == '_' || c == '~';
}

void AppendEncoded(std::string& out, ByteView bytes, bool everyByte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (uint8_t b : bytes) {
        if (!everyByte && Unreserved(b)) {
            out += static_cast<char>(b);
        } else {
            out += '%';
            out += kDigits[b >> 4];
            out += kDigits[b & 15];
        }
    }
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> Decode(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (text.size() - i < 3) {
            return std::nullopt;  // '%' needs two hex digits after it
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high << 4 | low);
        i += 2;
    }
    return out;
}

}  // namespace

bool IsPkcs11Uri(std::string_view text) {
    return text.size() >= kScheme.size() && AsciiLower(text.substr(0, kScheme.size())) == kScheme;
}

std::string MakePkcs11Uri(const TokenInfo& token, ByteView id) {
    std::string out(kScheme);
    const std::pair<const char*, const std::string*> fields[] = {
        {"model", &token.model},
        {"manufacturer", &token.manufacturer},
        {"serial", &token.serial},
        {"token", &token.label},
    };
    for (const auto& [name, value] : fields) {
        out += name;
        out += '=';
        AppendEncoded(out, AsBytes(*value), false);
        out += ';';
    }
    // The id is binary: every byte encoded, as p11tool writes it.
    out += "id=";
    AppendEncoded(out, id, true);
    return out;
}

std::optional<std::map<std::string, std::string>> ParsePkcs11Uri(std::string_view uri) {
    if (!IsPkcs11Uri(uri)) {
        return std::nullopt;
    }
    std::string_view path = uri.substr(kScheme.size());
    path = path.substr(0, path.find('?'));
    std::map<std::string, std::string> attributes;
    while (!path.empty()) {
        const size_t end = path.find(';');
        const std::string_view item = path.substr(0, end);
        path = end == std::string_view::npos ? std::string_view() : path.substr(end + 1);
        if (item.empty()) {
            continue;
        }
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos || equals == 0) {
            return std::nullopt;
        }
        std::optional<std::string> value = Decode(item.substr(equals + 1));
        if (!value) {
            return std::nullopt;
        }
        const std::string name = AsciiLower(item.substr(0, equals));
        if (!attributes.emplace(name, std::move(*value)).second) {
            return std::nullopt;
        }
    }
    return attributes;
}

}  // namespace ref
