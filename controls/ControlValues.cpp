#include "controls/ControlValues.h"

#include <limits>
#include <string>
#include <type_traits>

namespace zqt {
namespace {

const char16_t kNoCodeUnits[1] = {u'\0'};

uint32_t CheckedLength(size_t length) {
    if (length > std::numeric_limits<uint32_t>::max()) {
        throw ControlInvocationError("control argument too long");
    }
    return static_cast<uint32_t>(length);
}

zqt_value ToModuleArg(const ControlArg& arg) {
    zqt_value value{};
    std::visit(
        [&value](const auto& v) {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::u16string_view>) {
                value.vt = ZQT_VT_BSTR;
                // A module may rely on a non-null pointer even for an empty text.
                const char16_t* units = v.empty() ? kNoCodeUnits : v.data();
                value.str = reinterpret_cast<const uint16_t*>(units);
                value.len = CheckedLength(v.size());
            } else if constexpr (std::is_same_v<T, int32_t>) {
                value.vt = ZQT_VT_I4;
                value.i4 = v;
            } else {
                value.vt = ZQT_VT_UI4;
                value.ui4 = v;
            }
        },
        arg);
    return value;
}

uint16_t VariantType(ReturnType returnType) {
    return returnType == ReturnType::I4 ? ZQT_VT_I4 : ZQT_VT_BSTR;
}

}  // namespace

std::vector<zqt_value> ToModuleArgs(std::span<const ControlArg> args) {
    CheckedLength(args.size());
    std::vector<zqt_value> values;
    values.reserve(args.size());
    for (const ControlArg& arg : args) {
        values.push_back(ToModuleArg(arg));
    }
    return values;
}

zqt_value EmptyResult(ReturnType returnType) {
    zqt_value result{};
    result.vt = VariantType(returnType);
    return result;
}

ControlResult TakeResult(int32_t dispid, ReturnType returnType, const zqt_value& result) {
    auto fail = [dispid](const std::string& what) {
        throw ControlInvocationError("dispatch id " + std::to_string(dispid) + " " + what);
    };
    if (result.vt != VariantType(returnType)) {
        fail("answered with type " + std::to_string(result.vt));
    }
    if (returnType == ReturnType::I4) {
        return result.i4;
    }
    if (result.len == 0) {
        return std::u16string();
    }
    if (result.str == nullptr) {
        fail("answered with a null string");
    }
    return std::u16string(reinterpret_cast<const char16_t*>(result.str), result.len);
}

}  // namespace zqt
