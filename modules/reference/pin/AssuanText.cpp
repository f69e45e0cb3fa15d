#include "pin/AssuanText.h"

#include "pin/AssuanConnection.h"
#include "pin/PinEntry.h"

namespace ref {

namespace pinentry {

namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // marks a cut text

bool NeedsEscape(unsigned char c) {
    return c == '%' || c < 0x20;
}

void AppendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    if (NeedsEscape(c)) {
        out.push_back('%');
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0x0F]);
    } else {
        out.push_back(static_cast<char>(c));
    }
}

// The bytes of the UTF-8 character at text[i]: its lead byte and the
// continuation bytes it announces that follow; 1 for anything else.
size_t CharLength(std::string_view text, size_t i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const size_t want = lead >= 0xF0 && lead <= 0xF7   ? 4
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xC0 && lead <= 0xDF ? 2
                                                       : 1;
    size_t length = 1;
    while (length < want && i + length < text.size() &&
           (static_cast<unsigned char>(text[i + length]) & 0xC0) == 0x80) {
        ++length;
    }
    return length;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string CommandLine(std::string_view command, std::string_view text) {
    std::string line(command);
    line.push_back(' ');
    const size_t limit = AssuanConnection::kMaxLine - 1;  // the LF
    size_t full = line.size();
    for (char c : text) {
        full += NeedsEscape(static_cast<unsigned char>(c)) ? 3 : 1;
    }
    if (full <= limit) {
        for (char c : text) {
            AppendEscaped(line, static_cast<unsigned char>(c));
        }
        return line;
    }
    const size_t budget = limit - kEllipsis.size();
    std::string piece;
    for (size_t i = 0; i < text.size();) {
        const size_t length = CharLength(text, i);
        piece.clear();
        for (size_t k = 0; k < length; ++k) {
            AppendEscaped(piece, static_cast<unsigned char>(text[i + k]));
        }
        if (line.size() + piece.size() > budget) {
            break;
        }
        line += piece;
        i += length;
    }
    line += kEllipsis;
    return line;
}

bool UnescapeOnto(std::string_view data, Secret& secret, size_t limit) {
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        if (c == '%' && i + 2 < data.size()) {
            const int high = HexValue(data[i + 1]);
            const int low = HexValue(data[i + 2]);
            if (high >= 0 && low >= 0) {
                c = static_cast<char>(high * 16 + low);
                i += 2;
            }
        }
        if (secret.size() >= limit) {
            return false;
        }
        secret.push_back(c);
    }
    return true;
}

}  // namespace pinentry

std::string AssuanEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        pinentry::AppendEscaped(out, static_cast<unsigned char>(c));
    }
    return out;
}

}  // namespace ref
