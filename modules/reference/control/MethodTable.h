#pragma once
// One row per dispatch id of the main control: the argument and result
// types it is called with, and the function that carries it out.

#include <cstdint>
#include <string>
#include <string_view>

#include "control/MethodArgs.h"

namespace ref {

class MainControl;

// A text method returns its result as UTF-8 (Base64 for binary results);
// a number method returns its code. Either throws Failure to report one.
using TextMethod = std::string (*)(MainControl&, const MethodArgs&);
using NumberMethod = int32_t (*)(MainControl&, const MethodArgs&);

struct MethodRow {
    int32_t dispid;
    std::string_view args;  // one letter per argument: 'B' string, 'I' I4, 'U' UI4
    TextMethod text;        // set for string results
    NumberMethod number;    // set for I4 results
    bool returnsText;
    bool queriesError;  // GetErrorCode/GetErrorMessage: leave the last error alone
};

// Rows of the method tables; a row without a function answers "not
// supported" (-3).
constexpr MethodRow TextRow(int32_t dispid, std::string_view args, TextMethod method = nullptr) {
    return {dispid, args, method, nullptr, true, false};
}
constexpr MethodRow NumberRow(int32_t dispid, std::string_view args,
                              NumberMethod method = nullptr) {
    return {dispid, args, nullptr, method, false, false};
}

// The row of a dispatch id, or nullptr when the control has no such method.
const MethodRow* FindMethod(int32_t dispid);

// Rows per family, gathered by FindMethod.
struct MethodFamily {
    const MethodRow* rows;
    size_t count;
};
MethodFamily SigningMethods();
MethodFamily VerificationMethods();
MethodFamily CertificateMethods();
MethodFamily DeviceMethods();
MethodFamily EnvelopeMethods();
MethodFamily CipherMethods();
MethodFamily SealMethods();
MethodFamily ListMethods();

}  // namespace ref
