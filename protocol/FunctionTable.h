#pragma once
// The table of command numbers: one row per FunctionType number.

#include <cstdint>
#include <memory>
#include <span>

#include "functions/EumFunction.h"

struct FunctionRow {
    int32_t number;                          // the FunctionType a step asks for
    std::unique_ptr<EumFunction> (*make)();  // builds the class; nullptr while it is not built
    int32_t storedNumber;                    // the number the command reports
    const char16_t* storedName;              // the command's functionName
    const char* className;                   // for diagnostics and tests
};

template <class T>
std::unique_ptr<EumFunction> MakeFunction() {
    return std::make_unique<T>();
}

std::span<const FunctionRow> FunctionTable();

// The row of a number, or nullptr when the number names no command.
const FunctionRow* FindFunctionRow(int32_t number);
