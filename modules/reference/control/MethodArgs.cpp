#include "control/MethodArgs.h"

#include "core/Text.h"

namespace ref {

std::u16string MethodArgs::Wide(uint32_t index) const {
    const zqt_value& v = values_[index];
    if (v.str == nullptr || v.len == 0) {
        return {};
    }
    return std::u16string(reinterpret_cast<const char16_t*>(v.str), v.len);
}

std::string MethodArgs::Text(uint32_t index) const {
    return ToUtf8(Wide(index));
}

Secret MethodArgs::SecretText(uint32_t index) const {
    std::u16string wide = Wide(index);
    Secret secret(ToUtf8(wide));
    if (!wide.empty()) {
        OPENSSL_cleanse(wide.data(), wide.size() * sizeof(char16_t));
    }
    return secret;
}

}  // namespace ref
