#include "protocol/RunProcess.h"

#include <string>

#include "functions/TaggedText.h"

namespace {

std::u16string Decimal(long value) {
    std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string StepKey(int32_t step) {
    return u"ProcessEntity-" + Decimal(step);
}

// Runs one step's command. Any exception makes the result "-1"; the command's
// flag keeps whatever it held then.
std::u16string ExecuteStep(EumFunction& command) {
    std::u16string result;
    try {
        command.Execute(result);
    } catch (...) {
        result = u"-1";
    }
    return result;
}

// The chain of steps from step 1; returns the response text without its
// callback item.
std::u16string RunChain(const std::u16string& request, int32_t stepCount,
                        const CommandFactory& factory, RunSummary& summary) {
    std::u16string response;
    int32_t step = 1;
    // A chain that keeps going back stops after the last step it may run, as
    // if that step's next one were out of range.
    for (int ran = 0; ran < kMaxStepsPerRequest; ++ran) {
        std::u16string body = ExtractBraceValue(StepKey(step), request);
        std::unique_ptr<EumFunction> command = factory(body);
        if (!command) {
            summary.succeeded = false;
            return u"FunctionRes[-1]FunctionNotSucessAt[" + Decimal(step) + u"]";
        }
        std::u16string result = ExecuteStep(*command);
        summary.functionTypes.push_back(command->functionType);
        summary.succeeded = command->succeeded;
        response =
            u"FunctionType[" + Decimal(command->functionType) + u"]FunctionRes[" + result + u"]";
        std::u16string next =
            ExtractBracketValue(command->succeeded ? u"TrueNext" : u"FalseNext", body);
        command.reset();
        if (next.empty()) {
            break;
        }
        int32_t n = ValueToInt(next);
        if (n < 1 || n > stepCount) {
            break;
        }
        step = n;
    }
    return response;
}

}  // namespace

std::u16string RunProcess(std::u16string requestText, const CommandFactory& factory,
                          RunSummary* summary) {
    RunSummary unused;
    RunSummary& ran = summary != nullptr ? *summary : unused;
    ran = RunSummary();
    std::u16string response;
    std::u16string count = ExtractBraceValue(u"ProcessNum", requestText);
    int32_t stepCount = count.empty() ? 0 : ValueToInt(count);
    if (stepCount <= 0) {
        response = u"FunctionRes[-1]";
    } else {
        response = RunChain(requestText, stepCount, factory, ran);
    }
    response +=
        u"ProcessCallBackName[" + ExtractBraceValue(u"ProcessCallBackName", requestText) + u"]";
    return response;
}

std::u16string RunProcess(std::u16string requestText) {
    return RunProcess(std::move(requestText), CommandFactory(CreateFunction));
}
