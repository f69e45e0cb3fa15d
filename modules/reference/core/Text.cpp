#include "core/Text.h"

#include <iconv.h>

#include <cerrno>

#include "core/Outcome.h"
#include "support/TextConversion.h"

namespace ref {

std::string ToUtf8(std::u16string_view text) {
    return zqt::Utf16ToUtf8(text);
}

std::u16string FromUtf8(std::string_view text) {
    // The shared conversion stops at a NUL; keep what follows it too.
    std::u16string out;
    size_t start = 0;
    for (;;) {
        const size_t nul = text.find('\0', start);
        out +=
            zqt::Utf8ToUtf16(text.substr(start, nul == std::string_view::npos ? nul : nul - start));
        if (nul == std::string_view::npos)
            break;
        out += u'\0';
        start = nul + 1;
    }
    return out;
}

std::string ToGb18030(std::u16string_view text) {
    const std::string utf8 = ToUtf8(text);
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        Fail(kUnsupported, "GB18030 conversion is not available");
    }
    std::string out(utf8.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    // GB18030 covers all of Unicode and the input is valid UTF-8, so a
    // failure here is only a short buffer, which the sizing above rules out.
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        Fail(kInternal, "GB18030 conversion failed");
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string AsciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string AsciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace ref
