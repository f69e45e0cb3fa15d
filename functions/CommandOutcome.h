#pragma once
// The two outcome kinds every command reports, and the step body's parameter keys.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace commands {

// Result text: the number in decimal ("%ld"); success exactly at 0.
void ReportNumber(int32_t number, std::u16string& result, bool& succeeded);
// Result text: the string itself; success exactly when it is not empty.
void ReportText(std::u16string text, std::u16string& result, bool& succeeded);

inline constexpr std::array<std::u16string_view, 7> kParamKeys = {
    u"Param1", u"Param2", u"Param3", u"Param4", u"Param5", u"Param6", u"Param7"};

}  // namespace commands
