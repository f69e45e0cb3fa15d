#pragma once
// The workflow interpreter: runs a request text's chain of steps and returns
// the response text.

#include <functional>
#include <memory>
#include <string>

#include "protocol/EumFunction.h"

using CommandFactory = std::function<std::unique_ptr<EumFunction>(const std::u16string&)>;

// At most this many steps run per request; the chain then ends as if the next
// step were out of range.
inline constexpr int kMaxStepsPerRequest = 10000;

std::u16string RunProcess(std::u16string requestText);
// The same with another command factory (tests use commands of their own).
std::u16string RunProcess(std::u16string requestText, const CommandFactory& factory);
