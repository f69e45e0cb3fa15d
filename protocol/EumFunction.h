#pragma once
// The factory that turns a step body into a command. Its source file keeps
// the name EumFunction, which its log line shows; the base class itself sits
// below, with the commands.

#include <memory>
#include <string>

#include "functions/EumFunction.h"

// Makes the command that the step body's FunctionType names, with its
// parameters taken; nullptr for a number that names no command. Logs one line
// to the daily log for every call.
std::unique_ptr<EumFunction> CreateFunction(const std::u16string& stepBody);
