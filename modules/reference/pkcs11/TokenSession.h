#pragma once
// One read-only session on one token for the length of one operation (or
// of a batch window): log in, use a private key, log out and close.

#include <p11-kit/pkcs11.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "core/Secret.h"
#include "pkcs11/Pkcs11Registry.h"

namespace ref {

class TokenSession {
  public:
    virtual ~TokenSession() = default;  // logs out when logged in, closes the session

    virtual const TokenInfo& token() const = 0;

    // C_Login as the user. With pin == nullptr the token's PIN pad asks
    // (C_Login with no PIN). Throws Failure: kBadPin (message says how many
    // tries are left, as far as the token tells), kPinLocked, kNoToken,
    // kPkcs11 (message names the CKR).
    virtual void Login(const Secret* pin) = 0;

    // A private key usable by OpenSSL (signing, decryption, ECDH) whose
    // operations run on the token through this session. cert supplies the
    // public half. The key must not outlive this session. Throws
    // Failure(kNoKey) when no private key has this CKA_ID, kKeyType when the
    // token's key type is neither RSA nor EC.
    virtual EvpPkeyPtr PrivateKey(ByteView id, X509* cert) = 0;

    // Whether a private key object with this CKA_ID is visible now.
    virtual bool HasPrivateKey(ByteView id) = 0;

    // OpenSSL's C code cannot carry a token's error out of the key's
    // callbacks, so they record it on the calling thread. Call this after an
    // OpenSSL operation with a key of this session failed: it throws what
    // the token said (e.g. kNoToken for a pulled token, kBadPin for a
    // rejected per-use PIN) as a Failure whose message starts with
    // "<operation>: ", and clears it. It returns when no callback of this
    // session failed, so the caller reports OpenSSL's own error instead.
    virtual void ThrowIfFailed(const char* operation) = 0;

    // As PrivateKey, with the public half given directly: for a key pair
    // that has no certificate yet (a certificate request).
    virtual EvpPkeyPtr PrivateKeyFor(ByteView id, EVP_PKEY* publicKey) = 0;

    // Object work for enrolment, seals and licence data. Changes need a
    // session opened with Access::kReadWrite and, for private objects, a
    // login. Every call throws Failure as the others do (kNoToken for a
    // pulled token, kPkcs11 naming the CKR, e.g. CKR_DEVICE_MEMORY for a
    // full token).
    virtual std::vector<CK_OBJECT_HANDLE> FindObjects(std::vector<CK_ATTRIBUTE> match,
                                                      size_t limit) = 0;
    // nullopt when the object lacks it or it is sensitive.
    virtual std::optional<Bytes> Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) = 0;
    virtual CK_OBJECT_HANDLE CreateObject(std::vector<CK_ATTRIBUTE> attributes) = 0;
    virtual void SetAttributes(CK_OBJECT_HANDLE object, std::vector<CK_ATTRIBUTE> attributes) = 0;
    virtual void DestroyObject(CK_OBJECT_HANDLE object) = 0;
    // {public key, private key}
    virtual std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> GenerateKeyPair(
        CK_MECHANISM mechanism, std::vector<CK_ATTRIBUTE> publicTemplate,
        std::vector<CK_ATTRIBUTE> privateTemplate) = 0;
    // The mechanisms the token offers.
    virtual std::vector<CK_MECHANISM_TYPE> Mechanisms() = 0;
};

// The name of a CKR_ value ("CKR_PIN_INCORRECT"), or its hex value.
std::string CkrName(unsigned long rv);

}  // namespace ref
