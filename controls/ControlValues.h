#pragma once
// Conversions between the wrapper's typed arguments and results and the
// module interface's zqt_value.

#include <span>
#include <vector>

#include "controls/HostedControl.h"
#include "zqtca/control_module.h"

namespace zqt {

// The arguments as the module receives them; a text argument points at the
// caller's code units, which must outlive the call.
std::vector<zqt_value> ToModuleArgs(std::span<const ControlArg> args);

// A result slot of the expected type, everything else zeroed.
zqt_value EmptyResult(ReturnType returnType);

// The module's answer, copied. Throws ControlInvocationError when the module
// answered with another type than asked, or with a null string of some length.
ControlResult TakeResult(int32_t dispid, ReturnType returnType, const zqt_value& result);

}  // namespace zqt
