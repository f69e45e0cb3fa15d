#include "functions/CommandOutcome.h"

#include <cstdio>

namespace commands {

void ReportNumber(int32_t number, std::u16string& result, bool& succeeded) {
    char digits[16];
    const int length = std::snprintf(digits, sizeof digits, "%ld", static_cast<long>(number));
    result.assign(digits, digits + length);
    succeeded = number == 0;
}

void ReportText(std::u16string text, std::u16string& result, bool& succeeded) {
    result = std::move(text);
    succeeded = !result.empty();
}

}  // namespace commands
