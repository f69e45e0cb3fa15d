#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "support/CharsetConversion.h"
#include "support/TextConversion.h"

namespace {

constexpr char16_t kReplacement = 0xFFFD;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
const std::size_t kIconvFailed = static_cast<std::size_t>(-1);

class Converter {
  public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != kNoConverter) {
            iconv_close(m_cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool usable() const { return m_cd != kNoConverter; }

    // Converts as much as it can, appending to out; returns 0 or the errno
    // that stopped it (never E2BIG). Null in ends the text (shift state reset).
    int convert(const char*& in, std::size_t& left, std::string& out) {
        char buffer[4096];
        for (;;) {
            char* to = buffer;
            std::size_t room = sizeof buffer;
            char** from = in ? const_cast<char**>(&in) : nullptr;
            const std::size_t result = iconv(m_cd, from, in ? &left : nullptr, &to, &room);
            const int error = result == kIconvFailed ? errno : 0;
            out.append(buffer, static_cast<std::size_t>(to - buffer));
            if (error != E2BIG) {
                return error;
            }
        }
    }

  private:
    iconv_t m_cd;
};

bool IsUtf8(const char* charset) {
    return strcasecmp(charset, "UTF-8") == 0 || strcasecmp(charset, "UTF8") == 0;
}

std::u16string FromLittleEndianUnits(const std::string& bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return out;
}

void AppendLittleEndian32(std::string& out, char32_t c) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((c >> shift) & 0xFF));
    }
}

// Code points as UTF-32LE; a lone surrogate stays itself, which the
// converter rejects like any character the target lacks.
std::string ToUtf32(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 4);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendLittleEndian32(out, c);
    }
    return out;
}

// Without a converter for the charset, only ASCII is understood.
std::u16string AsciiToUtf16(std::string_view bytes) {
    std::u16string out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x80 ? char16_t{byte} : kReplacement);
    }
    return out;
}

std::string Utf16ToAscii(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            ++i;
        }
    }
    return out;
}

std::string CurrentCharset() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && *codeset ? codeset : "ANSI_X3.4-1968";
}

}  // namespace

namespace zqt {

namespace detail {

std::u16string CharsetToUtf16(std::string_view bytes, const char* charset) {
    if (IsUtf8(charset)) {
        return DecodeUtf8(bytes);
    }
    Converter converter("UTF-16LE", charset);
    if (!converter.usable()) {
        return AsciiToUtf16(bytes);
    }
    std::u16string out;
    std::string units;
    const char* in = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        if (converter.convert(in, left, units) != 0) {
            // Undecodable or cut short: replace one byte and go on.
            out += FromLittleEndianUnits(units);
            units.clear();
            out.push_back(kReplacement);
            ++in;
            --left;
        }
    }
    const char* end = nullptr;
    std::size_t none = 0;
    converter.convert(end, none, units);
    out += FromLittleEndianUnits(units);
    return out;
}

std::string Utf16ToCharset(std::u16string_view text, const char* charset) {
    if (IsUtf8(charset)) {
        return Utf16ToUtf8(text);
    }
    Converter converter(charset, "UTF-32LE");
    if (!converter.usable()) {
        return Utf16ToAscii(text);
    }
    const std::string utf32 = ToUtf32(text);
    std::string question;
    AppendLittleEndian32(question, U'?');
    std::string out;
    const char* in = utf32.data();
    std::size_t left = utf32.size();
    while (left > 0) {
        if (converter.convert(in, left, out) != 0) {
            // The "?" goes through the converter too, so that a stateful
            // charset stays in step.
            const char* mark = question.data();
            std::size_t markLeft = question.size();
            if (converter.convert(mark, markLeft, out) != 0) {
                out.push_back('?');
            }
            const std::size_t skip = left < 4 ? left : 4;
            in += skip;
            left -= skip;
        }
    }
    const char* end = nullptr;
    std::size_t none = 0;
    converter.convert(end, none, out);
    return out;
}

}  // namespace detail

std::u16string LocaleToUtf16(std::string_view bytes) {
    return detail::CharsetToUtf16(bytes, CurrentCharset().c_str());
}

std::string Utf16ToLocale(std::u16string_view text) {
    return detail::Utf16ToCharset(text, CurrentCharset().c_str());
}

}  // namespace zqt
