#pragma once
// The arguments of one invocation, already checked against the method's row.

#include <cstdint>
#include <string>

#include "core/Secret.h"
#include "zqtca/control_module.h"

namespace ref {

class MethodArgs {
  public:
    MethodArgs(const zqt_value* values, uint32_t count) : values_(values), count_(count) {}

    uint32_t size() const { return count_; }
    // A string argument as UTF-8 (lone surrogates become U+FFFD).
    std::string Text(uint32_t index) const;
    std::u16string Wide(uint32_t index) const;
    // A string argument that is a PIN or password: converted straight into a
    // Secret, so no plain copy outlives the call.
    Secret SecretText(uint32_t index) const;
    int32_t I4(uint32_t index) const { return values_[index].i4; }
    uint32_t UI4(uint32_t index) const { return values_[index].ui4; }

  private:
    const zqt_value* values_;
    uint32_t count_;
};

}  // namespace ref
