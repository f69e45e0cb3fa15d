#include "functions/SealFunctions.h"

#include <cstring>
#include <mutex>
#include <string_view>

#include "support/CBase64Coder.h"
#include "support/TextConversion.h"

namespace commands {

namespace {

std::u16string DecodeSealQuery(std::u16string_view param) {
    const std::string encoded = zqt::Utf16ToLocale(param);
    CBase64Coder coder;
    coder.Decode(reinterpret_cast<const unsigned char*>(encoded.data()),
                 static_cast<uint32_t>(encoded.size()));
    // The text ends at the first zero byte; the search stays inside the buffer.
    const auto* decoded = reinterpret_cast<const char*>(coder.DecodedData());
    const void* end = std::memchr(decoded, 0, coder.OutputCapacity());
    const size_t length = end == nullptr ? 0 : static_cast<const char*>(end) - decoded;
    const std::u16string wide = zqt::Utf8ToUtf16(std::string_view(decoded, length));
    return zqt::LocaleToUtf16(zqt::Utf16ToLocale(wide));
}

}  // namespace

void ExecuteDecodedSealQuery(int32_t dispid, const std::u16string& param, std::u16string& result,
                             bool& succeeded) {
    const std::u16string text = DecodeSealQuery(param);
    ReportText(CUlvoctrlctrl::Instance().InvokeText(dispid, {std::u16string_view(text)}), result,
               succeeded);
}

void AnswerFromCachedList(size_t readUpTo, std::u16string (*read)(), std::u16string& result,
                          bool& succeeded) {
    CertSealListCache& cache = TheCertSealListCache();
    std::lock_guard lock(cache.listLock);
    if (cache.text.size() <= readUpTo) {
        cache.text = read();
    }
    ReportText(cache.text, result, succeeded);
}

}  // namespace commands
