#include "crypto/CryptoFailure.h"

#include "core/Ossl.h"

namespace ref {

std::string WithOpensslError(std::string_view what) {
    std::string message(what);
    const std::string cause = TakeOpensslError();
    if (!cause.empty()) {
        message += ": " + cause;
    }
    return message;
}

void FailOpenssl(int32_t code, std::string_view what) {
    Fail(code, WithOpensslError(what));
}

}  // namespace ref
