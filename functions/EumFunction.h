#pragma once
// The command base class. The factory that picks a command for a step body
// sits above, in protocol/EumFunction.h.

#include <cstdint>
#include <string>

class EumFunction {
  public:
    virtual ~EumFunction() = default;

    // Runs the command: replaces `result` with the result text and sets
    // `succeeded`. May throw when a control invocation fails.
    virtual void Execute(std::u16string& result) = 0;
    // Takes the command's parameters from a step body.
    virtual void SetParams(std::u16string stepBody) = 0;

    int32_t functionType = 0;
    std::u16string functionName;
    bool succeeded = false;
};
