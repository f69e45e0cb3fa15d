// The Cryptoki calls of one session. Every call holds the session's mutex:
// a PKCS#11 session must not be used by two threads at once, and an
// operation (Init, per-use login, Sign) must not be interleaved.

#include <atomic>

#include "pkcs11/P11Errors.h"
#include "pkcs11/P11Session.h"

namespace ref {

namespace {

std::atomic<uint64_t> nextSessionId{1};

CK_UTF8CHAR* PinBytes(const Secret& pin) {
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(pin.c_str()));
}

}  // namespace

SessionCore::SessionCore(P11Module module, CK_SLOT_ID slot, CK_SESSION_HANDLE handle,
                         TokenInfo token)
    : module_(std::move(module)),
      fn_(module_.fn),
      slot_(slot),
      handle_(handle),
      token_(std::move(token)),
      id_(nextSessionId.fetch_add(1)) {}

SessionCore::~SessionCore() {
    Close();
}

void SessionCore::Close() noexcept {
    std::lock_guard lock(mutex_);
    if (!open_) {
        return;
    }
    open_ = false;
    if (loggedIn_) {
        fn_->C_Logout(handle_);
        loggedIn_ = false;
    }
    fn_->C_CloseSession(handle_);
    pin_.Wipe();
}

void SessionCore::RequireOpen(const char* function) const {
    if (!open_) {
        Fail(kNoToken, std::string(function) + ": the token session is closed");
    }
}

bool SessionCore::TokenGone() const {
    CK_TOKEN_INFO info{};
    if (fn_->C_GetTokenInfo(slot_, &info) != CKR_OK || (info.flags & CKF_TOKEN_INITIALIZED) == 0) {
        return true;
    }
    // Another token in the same reader is not ours either.
    TokenInfo now = MakeTokenInfo(token_.module, info);
    return now.serial != token_.serial || now.label != token_.label;
}

Failure SessionCore::FailureFor(const std::string& function, CK_RV rv) const {
    // A pulled token often shows as a device error first, or as a key or
    // object handle that is suddenly invalid.
    bool ambiguous =
        rv == CKR_DEVICE_ERROR || rv == CKR_OBJECT_HANDLE_INVALID || rv == CKR_KEY_HANDLE_INVALID;
    return CkrFailure(function, rv, token_, ambiguous && TokenGone());
}

std::string SessionCore::TriesLeft(bool& locked) const {
    locked = false;
    CK_TOKEN_INFO info{};
    if (fn_->C_GetTokenInfo(slot_, &info) != CKR_OK) {
        return ", the token does not say how many tries are left";
    }
    if (info.flags & CKF_USER_PIN_LOCKED) {
        locked = true;
        return ", the PIN is now locked";
    }
    if (info.flags & CKF_USER_PIN_FINAL_TRY) {
        return ", 1 try left";
    }
    if (info.flags & CKF_USER_PIN_COUNT_LOW) {
        return ", few tries left";
    }
    return ", the token does not say how many tries are left";
}

void SessionCore::Login(const Secret* pin) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_Login");
    CK_RV rv = pin == nullptr ? fn_->C_Login(handle_, CKU_USER, nullptr, 0)
                              : fn_->C_Login(handle_, CKU_USER, PinBytes(*pin), pin->size());
    if (rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN) {
        // Login state belongs to the token, shared by all its sessions: log
        // out at the end only if this session is the one that logged in.
        loggedIn_ = loggedIn_ || rv == CKR_OK;
        pinpadLogin_ = pin == nullptr;
        // Kept for per-use logins (CKA_ALWAYS_AUTHENTICATE), copied without
        // temporaries that would leave the PIN behind.
        pin_.Wipe();
        if (pin != nullptr) {
            for (char c : pin->view()) {
                pin_.push_back(c);
            }
        }
        return;
    }
    if (rv == CKR_PIN_INCORRECT) {
        // The flags are only meaningful right after the failed attempt.
        bool locked = false;
        std::string tries = TriesLeft(locked);
        Fail(locked ? kPinLocked : kBadPin, "PIN incorrect" + tries);
    }
    if (rv == CKR_PIN_LOCKED) {
        Fail(kPinLocked, "PIN locked");
    }
    throw FailureFor("C_Login", rv);
}

// PKCS#11 wants the per-use login right after the operation's Init call.
void SessionCore::ContextLogin(const char* function) {
    CK_RV rv = pinpadLogin_ || pin_.empty()
                   ? fn_->C_Login(handle_, CKU_CONTEXT_SPECIFIC, nullptr, 0)
                   : fn_->C_Login(handle_, CKU_CONTEXT_SPECIFIC, PinBytes(pin_), pin_.size());
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        throw FailureFor(std::string(function) + " (per-use login)", rv);
    }
}

std::vector<CK_OBJECT_HANDLE> SessionCore::FindPrivateKeys(ByteView id, size_t limit) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_FindObjects");
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE match[] = {
        {CKA_CLASS, &keyClass, sizeof keyClass},
        {CKA_ID, const_cast<uint8_t*>(id.data()), id.size()},
    };
    std::vector<CK_OBJECT_HANDLE> found;
    CK_RV rv = FindObjects(fn_, handle_, match, 2, limit, found);
    if (rv != CKR_OK) {
        throw FailureFor("C_FindObjects", rv);
    }
    return found;
}

std::optional<CK_ULONG> SessionCore::KeyUlong(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_GetAttributeValue");
    return ReadUlong(fn_, handle_, key, type);
}

std::optional<Bytes> SessionCore::KeyAttribute(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_GetAttributeValue");
    return ReadAttribute(fn_, handle_, key, type);
}

bool SessionCore::KeyBool(CK_OBJECT_HANDLE key, CK_ATTRIBUTE_TYPE type, bool fallback) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_GetAttributeValue");
    return ReadBool(fn_, handle_, key, type, fallback);
}

Bytes SessionCore::Sign(CK_OBJECT_HANDLE key, bool alwaysAuth, CK_MECHANISM mechanism,
                        ByteView data, size_t outSize) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_Sign");
    CK_RV rv = fn_->C_SignInit(handle_, &mechanism, key);
    if (rv != CKR_OK) {
        throw FailureFor("C_SignInit", rv);
    }
    if (alwaysAuth) {
        ContextLogin("C_SignInit");
    }
    Bytes out(outSize);
    CK_ULONG length = out.size();
    auto* input = const_cast<uint8_t*>(data.data());
    rv = fn_->C_Sign(handle_, input, data.size(), out.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL && length > out.size() && length <= 65536) {
        // The operation stays active after CKR_BUFFER_TOO_SMALL.
        out.resize(length);
        rv = fn_->C_Sign(handle_, input, data.size(), out.data(), &length);
    }
    if (rv != CKR_OK) {
        throw FailureFor("C_Sign", rv);
    }
    out.resize(std::min<size_t>(length, out.size()));
    return out;
}

Bytes SessionCore::Decrypt(CK_OBJECT_HANDLE key, bool alwaysAuth, CK_MECHANISM mechanism,
                           ByteView data, size_t outSize) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_Decrypt");
    CK_RV rv = fn_->C_DecryptInit(handle_, &mechanism, key);
    if (rv != CKR_OK) {
        throw FailureFor("C_DecryptInit", rv);
    }
    if (alwaysAuth) {
        ContextLogin("C_DecryptInit");
    }
    Bytes out(outSize);
    CK_ULONG length = out.size();
    auto* input = const_cast<uint8_t*>(data.data());
    rv = fn_->C_Decrypt(handle_, input, data.size(), out.data(), &length);
    if (rv == CKR_BUFFER_TOO_SMALL && length > out.size() && length <= 65536) {
        out.resize(length);
        rv = fn_->C_Decrypt(handle_, input, data.size(), out.data(), &length);
    }
    if (rv != CKR_OK) {
        OPENSSL_cleanse(out.data(), out.size());
        throw FailureFor("C_Decrypt", rv);
    }
    out.resize(std::min<size_t>(length, out.size()));
    return out;
}

Bytes SessionCore::Derive(CK_OBJECT_HANDLE key, bool alwaysAuth, ByteView peerPoint,
                          size_t secretSize) {
    std::lock_guard lock(mutex_);
    RequireOpen("C_DeriveKey");
    CK_ECDH1_DERIVE_PARAMS params{CKD_NULL, 0, nullptr, peerPoint.size(),
                                  const_cast<uint8_t*>(peerPoint.data())};
    CK_MECHANISM mechanism{CKM_ECDH1_DERIVE, &params, sizeof params};
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY;
    CK_KEY_TYPE secretType = CKK_GENERIC_SECRET;
    CK_BBOOL no = CK_FALSE;
    CK_BBOOL yes = CK_TRUE;
    CK_ULONG length = secretSize;
    // A session object the host may read: the secret only feeds the key
    // derivation of the envelope, and the object is destroyed at once.
    CK_ATTRIBUTE secretTemplate[] = {
        {CKA_CLASS, &secretClass, sizeof secretClass},
        {CKA_KEY_TYPE, &secretType, sizeof secretType},
        {CKA_TOKEN, &no, sizeof no},
        {CKA_SENSITIVE, &no, sizeof no},
        {CKA_EXTRACTABLE, &yes, sizeof yes},
        {CKA_VALUE_LEN, &length, sizeof length},
    };
    // A derivation has no separate Init, so the per-use login comes first.
    if (alwaysAuth) {
        ContextLogin("C_DeriveKey");
    }
    CK_OBJECT_HANDLE secret = CK_INVALID_HANDLE;
    CK_RV rv = fn_->C_DeriveKey(handle_, &mechanism, key, secretTemplate, std::size(secretTemplate),
                                &secret);
    if (rv != CKR_OK) {
        throw FailureFor("C_DeriveKey", rv);
    }
    std::optional<Bytes> value = ReadAttribute(fn_, handle_, secret, CKA_VALUE);
    fn_->C_DestroyObject(handle_, secret);
    if (!value || value->size() != secretSize) {
        if (value) {
            OPENSSL_cleanse(value->data(), value->size());
        }
        Fail(kPkcs11, "C_DeriveKey: the token gave no usable shared secret");
    }
    return std::move(*value);
}

}  // namespace ref
