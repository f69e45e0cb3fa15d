#include "control/MainControl.h"

#include "control/KeyAccess.h"
#include "core/Ossl.h"
#include "core/Outcome.h"
#include "core/Text.h"

namespace ref {

namespace {

bool ArgumentsFit(const MethodRow& row, const zqt_value* args, uint32_t argc) {
    if (argc != row.args.size() || (argc > 0 && args == nullptr)) {
        return false;
    }
    for (uint32_t i = 0; i < argc; ++i) {
        const uint16_t expected = row.args[i] == 'B'   ? ZQT_VT_BSTR
                                  : row.args[i] == 'I' ? ZQT_VT_I4
                                                       : ZQT_VT_UI4;
        if (args[i].vt != expected)
            return false;
        if (expected == ZQT_VT_BSTR && args[i].str == nullptr && args[i].len != 0)
            return false;
    }
    return true;
}

}  // namespace

MainControl::MainControl()
    : config(LoadConfig()),
      tokens(config.pkcs11Modules, config.pkcs11Discover),
      store(config.storeDir),
      inventory(tokens, store),
      trust(config) {
    LoadProviders();
}

MainControl::~MainControl() {
    CloseWindow();
}

std::shared_ptr<UnlockedKey> MainControl::WindowKey(ByteView certDer) {
    if (!signWindow)
        return nullptr;
    if (std::chrono::steady_clock::now() >= signWindow->until) {
        CloseWindow();
        return nullptr;
    }
    if (!std::equal(certDer.begin(), certDer.end(), signWindow->certDer.begin(),
                    signWindow->certDer.end())) {
        return nullptr;
    }
    return signWindow->key;
}

void MainControl::CloseWindow() {
    signWindow.reset();
}

void MainControl::Record(int32_t code, const std::string& message) {
    lastCode = code;
    lastMessage = code == kOk ? "OK" : message;
}

int32_t MainControl::Invoke(int32_t dispid, const zqt_value* args, uint32_t argc,
                            zqt_value* result) {
    const MethodRow* row = FindMethod(dispid);
    if (row == nullptr || result == nullptr || !ArgumentsFit(*row, args, argc)) {
        return 1;
    }
    const uint16_t expectedResult = row->returnsText ? ZQT_VT_BSTR : ZQT_VT_I4;
    if (result->vt != expectedResult) {
        return 1;
    }
    const MethodArgs methodArgs(args, argc);
    int32_t code = kOk;
    std::string message;
    std::string text;
    try {
        if (row->returnsText && row->text != nullptr) {
            text = row->text(*this, methodArgs);
        } else if (!row->returnsText && row->number != nullptr) {
            code = row->number(*this, methodArgs);
            if (code != kOk)
                message = "the method answered " + std::to_string(code);
        } else {
            Fail(kUnsupported, "not supported by this module");
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
        Record(code, message);
    }
    if (row->returnsText) {
        resultText_ = FromUtf8(text);
        result->str = reinterpret_cast<const uint16_t*>(resultText_.data());
        result->len = static_cast<uint32_t>(resultText_.size());
    } else {
        result->i4 = code;
    }
    return 0;
}

}  // namespace ref
