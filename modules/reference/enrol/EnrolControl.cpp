#include "enrol/EnrolControl.h"

#include "control/MethodArgs.h"
#include "core/Ossl.h"
#include "core/Outcome.h"
#include "core/Text.h"

namespace ref {

namespace {

bool ArgumentsFit(const EnrolRow& row, const zqt_value* args, uint32_t argc) {
    if (argc != row.args.size() || (argc > 0 && args == nullptr))
        return false;
    for (uint32_t i = 0; i < argc; ++i) {
        if (args[i].vt != ZQT_VT_BSTR || (args[i].str == nullptr && args[i].len != 0))
            return false;
    }
    return true;
}

}  // namespace

EnrolControl::EnrolControl()
    : config(LoadConfig()),
      tokens(config.pkcs11Modules, config.pkcs11Discover),
      store(config.storeDir),
      inventory(tokens, store) {
    LoadProviders();
}

int32_t EnrolControl::Invoke(int32_t dispid, const zqt_value* args, uint32_t argc,
                             zqt_value* result) {
    const EnrolRow* row = FindEnrolMethod(dispid);
    if (row == nullptr || result == nullptr || !ArgumentsFit(*row, args, argc))
        return 1;
    const bool returnsText = row->text != nullptr;
    if (result->vt != (returnsText ? ZQT_VT_BSTR : ZQT_VT_I4))
        return 1;
    const MethodArgs methodArgs(args, argc);
    int32_t code = kOk;
    std::string message;
    std::string text;
    try {
        if (returnsText) {
            text = row->text(*this, methodArgs);
        } else {
            code = row->number(*this, methodArgs);
        }
    } catch (const Failure& failure) {
        code = failure.code();
        message = failure.what();
        text.clear();
    } catch (const std::bad_alloc&) {
        code = kInternal;
        message = "out of memory";
        text.clear();
    } catch (const std::exception& e) {
        code = kInternal;
        message = std::string("internal error: ") + e.what();
        text.clear();
    }
    TakeOpensslError();  // nothing left over for the next call
    if (!row->queriesError) {
        lastCode = code;
        lastMessage = code == kOk       ? "OK"
                      : message.empty() ? "failed with " + std::to_string(code)
                                        : message;
    }
    if (returnsText) {
        resultText_ = FromUtf8(text);
        result->str = reinterpret_cast<const uint16_t*>(resultText_.data());
        result->len = static_cast<uint32_t>(resultText_.size());
    } else {
        result->i4 = code;
    }
    return 0;
}

}  // namespace ref
