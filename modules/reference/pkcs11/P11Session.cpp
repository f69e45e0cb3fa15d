#include "pkcs11/P11Session.h"

#include <openssl/bn.h>
#include <openssl/rsa.h>

#include "pkcs11/TokenKey.h"

namespace ref {

namespace {

std::string IdText(ByteView id) {
    return id.empty() ? "(empty)" : HexEncode(id);
}

// The token's RSA modulus must be the certificate's: a key pair mixed up
// on the token would otherwise sign with a key nobody can verify.
void CheckModulus(SessionCore& core, CK_OBJECT_HANDLE key, EVP_PKEY* publicKey, ByteView id) {
    std::optional<Bytes> modulus = core.KeyAttribute(key, CKA_MODULUS);
    const RSA* rsa = EVP_PKEY_get0_RSA(publicKey);
    if (!modulus || rsa == nullptr) {
        return;  // not readable on this token: nothing to compare
    }
    std::unique_ptr<BIGNUM, OsslDeleter<BIGNUM, BN_free>> tokenN(
        BN_bin2bn(modulus->data(), static_cast<int>(modulus->size()), nullptr));
    if (tokenN && BN_cmp(tokenN.get(), RSA_get0_n(rsa)) != 0) {
        Fail(kNoKey, "the private key " + IdText(id) + " on token " + core.token().label +
                         " does not belong to the certificate");
    }
}

}  // namespace

P11Session::~P11Session() {
    core_->Close();
}

void P11Session::Login(const Secret* pin) {
    core_->Login(pin);
}

bool P11Session::HasPrivateKey(ByteView id) {
    return !core_->FindPrivateKeys(id, 1).empty();
}

EvpPkeyPtr P11Session::PrivateKey(ByteView id, X509* cert) {
    return PrivateKeyFor(id, cert == nullptr ? nullptr : X509_get0_pubkey(cert));
}

EvpPkeyPtr P11Session::PrivateKeyFor(ByteView id, EVP_PKEY* publicKey) {
    if (publicKey == nullptr) {
        Fail(kBadParam, "no certificate with a readable public key for the token key");
    }
    std::vector<CK_OBJECT_HANDLE> keys = core_->FindPrivateKeys(id, 2);
    if (keys.empty()) {
        Fail(kNoKey, "no private key " + IdText(id) + " on token " + token().label);
    }
    if (keys.size() > 1) {
        Fail(kNoKey, "several private keys " + IdText(id) + " on token " + token().label);
    }
    CK_OBJECT_HANDLE key = keys.front();
    std::optional<CK_ULONG> keyType = core_->KeyUlong(key, CKA_KEY_TYPE);
    int certType = EVP_PKEY_get_base_id(publicKey);
    KeyLink link{core_, key, core_->KeyBool(key, CKA_ALWAYS_AUTHENTICATE, false)};
    if (keyType == CKK_RSA) {
        if (certType != EVP_PKEY_RSA) {
            Fail(kKeyType, "the token's key is RSA, the certificate's is not");
        }
        CheckModulus(*core_, key, publicKey, id);
        return MakeTokenRsaKey(std::move(link), publicKey);
    }
    if (keyType == CKK_EC) {
        if (certType != EVP_PKEY_EC) {
            Fail(kKeyType, "the token's key is EC, the certificate's is not");
        }
        return MakeTokenEcKey(std::move(link), publicKey);
    }
    Fail(kKeyType, "the token's key " + IdText(id) + " is neither RSA nor EC");
}

void P11Session::ThrowIfFailed(const char* operation) {
    std::optional<Failure> failure = TakeKeyFailure(core_->id());
    if (!failure) {
        return;
    }
    std::string prefix =
        operation != nullptr && *operation != '\0' ? std::string(operation) + ": " : std::string();
    throw Failure(failure->code(), prefix + failure->what());
}

std::vector<CK_OBJECT_HANDLE> P11Session::FindObjects(std::vector<CK_ATTRIBUTE> match,
                                                      size_t limit) {
    return core_->Find(match, limit);
}

std::optional<Bytes> P11Session::Attribute(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type) {
    return core_->KeyAttribute(object, type);
}

CK_OBJECT_HANDLE P11Session::CreateObject(std::vector<CK_ATTRIBUTE> attributes) {
    return core_->Create(attributes);
}

void P11Session::SetAttributes(CK_OBJECT_HANDLE object, std::vector<CK_ATTRIBUTE> attributes) {
    core_->SetAttributes(object, attributes);
}

void P11Session::DestroyObject(CK_OBJECT_HANDLE object) {
    core_->Destroy(object);
}

std::pair<CK_OBJECT_HANDLE, CK_OBJECT_HANDLE> P11Session::GenerateKeyPair(
    CK_MECHANISM mechanism, std::vector<CK_ATTRIBUTE> publicTemplate,
    std::vector<CK_ATTRIBUTE> privateTemplate) {
    return core_->GenerateKeyPair(mechanism, publicTemplate, privateTemplate);
}

std::vector<CK_MECHANISM_TYPE> P11Session::Mechanisms() {
    return core_->Mechanisms();
}

}  // namespace ref
