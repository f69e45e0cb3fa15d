#pragma once
// The workflow interpreter: runs a request text's chain of steps and returns
// the response text.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/EumFunction.h"

using CommandFactory = std::function<std::unique_ptr<EumFunction>(const std::u16string&)>;

// At most this many steps run per request; the chain then ends as if the next
// step were out of range.
inline constexpr int kMaxStepsPerRequest = 10000;

// What ran, for the audit: never a parameter or a result.
struct RunSummary {
    std::vector<int32_t> functionTypes;  // the FunctionType of each step that ran, in order
    bool succeeded = false;              // the last step that ran succeeded
};

std::u16string RunProcess(std::u16string requestText);
// The same with another command factory (tests use commands of their own),
// and, when `summary` is given, the steps that ran written into it.
std::u16string RunProcess(std::u16string requestText, const CommandFactory& factory,
                          RunSummary* summary = nullptr);
