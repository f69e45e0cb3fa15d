#include "methods/ModuleVersion.h"

namespace ref {

std::optional<std::vector<unsigned long>> ParseVersion(const std::string& text) {
    std::vector<unsigned long> parts;
    unsigned long value = 0;
    size_t digits = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || parts.size() == 4)
                return std::nullopt;
            parts.push_back(value);
            value = 0;
            digits = 0;
        } else if (text[i] >= '0' && text[i] <= '9' && digits < 9) {
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
            ++digits;
        } else {
            return std::nullopt;
        }
    }
    return parts;
}

int CompareVersions(const std::vector<unsigned long>& a, const std::vector<unsigned long>& b) {
    for (size_t i = 0; i < a.size() || i < b.size(); ++i) {
        const unsigned long x = i < a.size() ? a[i] : 0;
        const unsigned long y = i < b.size() ? b[i] : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace ref
