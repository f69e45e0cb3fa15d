#pragma once
// The command base class and the factory that turns a step body into a command.

#include <cstdint>
#include <memory>
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

// Makes the command that the step body's FunctionType names, with its
// parameters taken; nullptr for a number that names no command. Logs one line
// to the daily log for every call.
std::unique_ptr<EumFunction> CreateFunction(const std::u16string& stepBody);
