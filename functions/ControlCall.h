#pragma once
// The shape shared by every command that makes one control call: its
// parameters, read from Param1.. in key order, become the call's typed
// arguments, and the return kind decides the result text and `succeeded`.
// A command class is then one row:
//   class Function_Sign final : public MainCall<10, TextResult, Bstr, Bstr> {};

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "controls/HostedControl.h"
#include "functions/CommandOutcome.h"
#include "functions/EumFunction.h"
#include "functions/TaggedText.h"

// Return kinds.
struct TextResult {
    static constexpr ReturnType kReturnType = ReturnType::BSTR;
    static void Report(ControlResult returned, std::u16string& result, bool& succeeded) {
        commands::ReportText(std::get<std::u16string>(std::move(returned)), result, succeeded);
    }
};

struct NumberResult {
    static constexpr ReturnType kReturnType = ReturnType::I4;
    static void Report(ControlResult returned, std::u16string& result, bool& succeeded) {
        commands::ReportNumber(std::get<int32_t>(returned), result, succeeded);
    }
};

// Argument kinds: a parameter taken from the step body and passed as BSTR, I4
// or UI4 (the same 32 bits, unsigned), or a fixed I4 that no parameter feeds.
struct Bstr {
    static constexpr bool kFromStepBody = true;
    using Field = std::u16string;
    static Field Take(std::u16string value) { return value; }
    static ControlArg Pass(const Field& field) { return std::u16string_view(field); }
};

struct I4 {
    static constexpr bool kFromStepBody = true;
    using Field = int32_t;
    static Field Take(const std::u16string& value) { return ValueToInt(value); }
    static ControlArg Pass(Field field) { return field; }
};

struct Ui4 {
    static constexpr bool kFromStepBody = true;
    using Field = int32_t;
    static Field Take(const std::u16string& value) { return ValueToInt(value); }
    static ControlArg Pass(Field field) { return static_cast<uint32_t>(field); }
};

template <int32_t Value>
struct FixedI4 {
    static constexpr bool kFromStepBody = false;
    struct Field {};
    static ControlArg Pass(Field) { return Value; }
};

namespace commands {

// For each argument, the number of the ParamN key that feeds it (0: none).
template <class... Args>
constexpr std::array<size_t, sizeof...(Args)> ParamNumbers() {
    std::array<size_t, sizeof...(Args)> numbers{};
    size_t next = 1;
    size_t index = 0;
    ((numbers[index++] = Args::kFromStepBody ? next++ : 0), ...);
    return numbers;
}

}  // namespace commands

template <class Control, int32_t Dispid, class Outcome, class... Args>
class ControlCall : public EumFunction {
  public:
    void SetParams(std::u16string stepBody) override {
        TakeParams(stepBody, std::index_sequence_for<Args...>{});
    }

    void Execute(std::u16string& result) override {
        const auto args = std::apply(
            [](const auto&... field) {
                return std::array<ControlArg, sizeof...(Args)>{Args::Pass(field)...};
            },
            fields_);
        Outcome::Report(Control::Instance().Invoke(Dispid, Outcome::kReturnType, args), result,
                        succeeded);
    }

  private:
    static constexpr auto kParamNumbers = commands::ParamNumbers<Args...>();
    static_assert((size_t{0} + ... + (Args::kFromStepBody ? 1 : 0)) <= commands::kParamKeys.size(),
                  "a step body has at most seven parameters");

    template <size_t... Index>
    void TakeParams([[maybe_unused]] const std::u16string& stepBody,
                    std::index_sequence<Index...>) {
        (TakeParam<Index, Args>(stepBody), ...);
    }

    template <size_t Index, class Arg>
    void TakeParam([[maybe_unused]] const std::u16string& stepBody) {
        if constexpr (Arg::kFromStepBody) {
            const std::u16string_view key = commands::kParamKeys[kParamNumbers[Index] - 1];
            std::get<Index>(fields_) = Arg::Take(ExtractBracketValue(key, stepBody));
        }
    }

    std::tuple<typename Args::Field...> fields_;
};

template <int32_t Dispid, class Outcome, class... Args>
using MainCall = ControlCall<CUlvoctrlctrl, Dispid, Outcome, Args...>;

template <int32_t Dispid, class Outcome, class... Args>
using EnrolmentCall = ControlCall<CUlvocertenrollctrl, Dispid, Outcome, Args...>;
