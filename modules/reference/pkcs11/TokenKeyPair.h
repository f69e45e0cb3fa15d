#pragma once
// Key pairs made on, or put on, a token for enrolment: the templates of
// C_GenerateKeyPair and C_CreateObject, and a public key read back as an
// EVP_PKEY.

#include <p11-kit/pkcs11.h>

#include <memory>
#include <string>
#include <vector>

#include "core/Bytes.h"
#include "core/Ossl.h"

namespace ref {

class TokenSession;

enum class TokenKeyType { kRsa, kEc };  // EC: always P-256
enum class KeyRole { kSign, kEncrypt };

// The attribute values a template points into; kept alive with it.
class Template {
  public:
    void Bool(CK_ATTRIBUTE_TYPE type, bool value);
    void Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value);
    void Data(CK_ATTRIBUTE_TYPE type, ByteView value);
    void Text(CK_ATTRIBUTE_TYPE type, const std::string& value) { Data(type, AsBytes(value)); }

    // The attributes, pointing into this object (valid while it lives).
    std::vector<CK_ATTRIBUTE> Attributes() const;
    ~Template();  // wipes the values: private key components pass through here

  private:
    struct Item {
        CK_ATTRIBUTE_TYPE type;
        Bytes value;
    };
    std::vector<std::unique_ptr<Item>> items_;
};

// DER of the P-256 curve's OID, CKA_EC_PARAMS.
ByteView P256Params();

// Templates for a new pair. Encryption keys may sign as well: a certificate
// request must be signed by its own key (the caller turns CKA_SIGN off after).
struct KeyPairTemplates {
    CK_MECHANISM_TYPE mechanism;
    Template publicKey;
    Template privateKey;
};
std::unique_ptr<KeyPairTemplates> NewKeyPairTemplates(TokenKeyType type, int rsaBits, KeyRole role,
                                                      ByteView id, const std::string& label);

// The public key of a CKO_PUBLIC_KEY object (RSA: CKA_MODULUS and
// CKA_PUBLIC_EXPONENT; EC: CKA_EC_PARAMS and CKA_EC_POINT, DER-wrapped or
// raw). Throws Failure(kKeyType) for other keys, kPkcs11 when unreadable.
EvpPkeyPtr ReadTokenPublicKey(TokenSession& session, CK_OBJECT_HANDLE object);

// Templates to import a software key (RSA or P-256) as a sensitive,
// non-extractable private key and its public key object.
void ImportTemplates(EVP_PKEY* key, KeyRole role, ByteView id, const std::string& label,
                     Template& privateKey, Template& publicKey);

}  // namespace ref
