#include "core/Bytes.h"

#include <array>

namespace ref {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<int8_t, 256> MakeBase64Table() {
    std::array<int8_t, 256> table{};
    for (auto& v : table) {
        v = -1;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    }
    return table;
}
constexpr auto kBase64Table = MakeBase64Table();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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

}  // namespace

std::string Base64Encode(ByteView bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        const uint32_t v = (bytes[i] << 16) | (rest == 2 ? bytes[i + 1] << 8 : 0);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<Bytes> Base64Decode(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (!IsBlank(c)) {
            compact += c;
        }
    }
    if (compact.size() % 4 != 0) {
        return std::nullopt;
    }
    Bytes out;
    out.reserve(compact.size() / 4 * 3);
    for (size_t i = 0; i < compact.size(); i += 4) {
        const bool last = i + 4 == compact.size();
        int pad = 0;
        uint32_t v = 0;
        for (size_t j = 0; j < 4; ++j) {
            const char c = compact[i + j];
            if (c == '=') {
                // Padding only at the very end, in the last one or two places.
                if (!last || j < 2)
                    return std::nullopt;
                ++pad;
                v <<= 6;
                continue;
            }
            if (pad > 0)
                return std::nullopt;
            const int8_t d = kBase64Table[static_cast<uint8_t>(c)];
            if (d < 0)
                return std::nullopt;
            v = (v << 6) | static_cast<uint32_t>(d);
        }
        out.push_back(static_cast<uint8_t>(v >> 16));
        if (pad < 2)
            out.push_back(static_cast<uint8_t>(v >> 8));
        if (pad < 1)
            out.push_back(static_cast<uint8_t>(v));
        // Bits under the padding must be zero, or two texts decode alike.
        if ((pad == 1 && (v & 0xFF) != 0) || (pad == 2 && (v & 0xFFFF) != 0)) {
            return std::nullopt;
        }
    }
    return out;
}

std::string HexEncode(ByteView bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += kHexDigits[b >> 4];
        out += kHexDigits[b & 15];
    }
    return out;
}

std::optional<Bytes> HexDecode(std::string_view text) {
    Bytes out;
    int high = -1;
    for (char c : text) {
        if (c == ':' || IsBlank(c)) {
            if (high >= 0)
                return std::nullopt;  // a separator inside a pair
            continue;
        }
        const int v = HexValue(c);
        if (v < 0)
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return out;
}

std::optional<std::string> NormalizeSerial(std::string_view text) {
    std::string digits;
    for (char c : text) {
        if (c == ':' || IsBlank(c))
            continue;
        const int v = HexValue(c);
        if (v < 0)
            return std::nullopt;
        digits += kHexDigits[v];
    }
    if (digits.empty())
        return std::nullopt;
    const size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? std::string("0") : digits.substr(first);
}

}  // namespace ref
