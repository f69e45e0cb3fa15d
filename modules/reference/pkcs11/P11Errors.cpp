#include "pkcs11/P11Errors.h"

#include "pkcs11/TokenSession.h"

namespace ref {

bool MeansTokenGone(CK_RV rv) {
    switch (rv) {
        case CKR_DEVICE_REMOVED:
        case CKR_TOKEN_NOT_PRESENT:
        case CKR_TOKEN_NOT_RECOGNIZED:
        case CKR_SESSION_HANDLE_INVALID:
        case CKR_SESSION_CLOSED:
        case CKR_SLOT_ID_INVALID:
            return true;
        default:
            return false;
    }
}

std::string NotPresentMessage(const TokenInfo& token) {
    return "token " + token.label + " (" + token.serial + ") is not present";
}

Failure CkrFailure(const std::string& function, CK_RV rv, const TokenInfo& token, bool tokenGone) {
    const std::string call = function + ": " + CkrName(rv);
    if (tokenGone || MeansTokenGone(rv)) {
        return Failure(kNoToken, call + ", " + NotPresentMessage(token));
    }
    switch (rv) {
        case CKR_PIN_INCORRECT:
            return Failure(kBadPin, "PIN incorrect (" + call + ")");
        case CKR_PIN_LEN_RANGE:
            return Failure(kBadPin,
                           "PIN incorrect: its length does not fit the token (" + call + ")");
        case CKR_PIN_LOCKED:
            return Failure(kPinLocked, "PIN locked (" + call + ")");
        case CKR_FUNCTION_CANCELED:
            return Failure(kCancelled, "cancelled on the token (" + call + ")");
        case CKR_MECHANISM_INVALID:
            return Failure(kUnsupported, call + ": the token does not offer this mechanism");
        case CKR_ENCRYPTED_DATA_INVALID:
        case CKR_ENCRYPTED_DATA_LEN_RANGE:
            return Failure(kDecrypt, call);
        default:
            return Failure(kPkcs11, call);
    }
}

}  // namespace ref
