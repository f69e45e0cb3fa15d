#include "pkcs11/TokenKeyPair.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>

#include <cstring>

#include "core/Outcome.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

using BnPtr = std::unique_ptr<BIGNUM, OsslDeleter<BIGNUM, BN_clear_free>>;
using ParamBldPtr =
    std::unique_ptr<OSSL_PARAM_BLD, OsslDeleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using ParamsPtr = std::unique_ptr<OSSL_PARAM, OsslDeleter<OSSL_PARAM, OSSL_PARAM_free>>;

// 1.2.840.10045.3.1.7
constexpr uint8_t kP256Oid[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr uint8_t kF4[] = {0x01, 0x00, 0x01};

BnPtr ToBn(const Bytes& bytes) {
    return BnPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

Bytes FromBn(const BIGNUM* bn, int width = 0) {
    Bytes out(static_cast<size_t>(width > 0 ? width : BN_num_bytes(bn)));
    BN_bn2binpad(bn, out.data(), static_cast<int>(out.size()));
    return out;
}

EvpPkeyPtr FromParams(const char* type, OSSL_PARAM_BLD* bld) {
    ParamsPtr params(OSSL_PARAM_BLD_to_param(bld));
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    EVP_PKEY* made = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &made, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
        TakeOpensslError();
        Fail(kPkcs11, std::string("the token's ") + type + " public key cannot be read");
    }
    return EvpPkeyPtr(made);
}

// CKA_EC_POINT is a DER OCTET STRING by the standard; some tokens give the
// bare point. Either way, the uncompressed point.
Bytes BarePoint(const Bytes& value) {
    const unsigned char* p = value.data();
    ASN1_OCTET_STRING* wrapped =
        d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(value.size()));
    Bytes out = value;
    if (wrapped != nullptr && p == value.data() + value.size()) {
        out.assign(ASN1_STRING_get0_data(wrapped),
                   ASN1_STRING_get0_data(wrapped) + ASN1_STRING_length(wrapped));
    }
    ASN1_OCTET_STRING_free(wrapped);
    TakeOpensslError();
    return out;
}

Bytes WrapPoint(ByteView point) {
    ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
    unsigned char* der = nullptr;
    int length = -1;
    if (octets != nullptr &&
        ASN1_OCTET_STRING_set(octets, point.data(), static_cast<int>(point.size())) == 1) {
        length = i2d_ASN1_OCTET_STRING(octets, &der);
    }
    ASN1_OCTET_STRING_free(octets);
    if (length <= 0) {
        Fail(kInternal, "cannot encode the EC point");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

Bytes BnParam(EVP_PKEY* key, const char* name, int width = 0) {
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) {
        TakeOpensslError();
        Fail(kMalformed, std::string("the key lacks its ") + name);
    }
    BnPtr bn(raw);
    return FromBn(bn.get(), width);
}

void Wipe(Bytes& bytes) {
    if (!bytes.empty()) {
        OPENSSL_cleanse(bytes.data(), bytes.size());
    }
}

// Every usage flag stated: a token's defaults (SoftHSM's let a private key
// decrypt and unwrap) would otherwise give keys uses nobody asked for.
void Usage(Template& pub, Template& priv, bool sign, bool decrypt, bool derive) {
    priv.Bool(CKA_SIGN, sign);
    priv.Bool(CKA_SIGN_RECOVER, false);
    priv.Bool(CKA_DECRYPT, decrypt);
    priv.Bool(CKA_UNWRAP, false);
    priv.Bool(CKA_DERIVE, derive);
    pub.Bool(CKA_VERIFY, sign);
    pub.Bool(CKA_VERIFY_RECOVER, false);
    pub.Bool(CKA_ENCRYPT, decrypt);
    pub.Bool(CKA_WRAP, false);
    pub.Bool(CKA_DERIVE, false);
}

}  // namespace

void Template::Bool(CK_ATTRIBUTE_TYPE type, bool value) {
    const uint8_t b = value ? CK_TRUE : CK_FALSE;
    Data(type, ByteView(&b, 1));
}

void Template::Ulong(CK_ATTRIBUTE_TYPE type, CK_ULONG value) {
    Bytes bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    items_.push_back(std::make_unique<Item>(Item{type, std::move(bytes)}));
}

void Template::Data(CK_ATTRIBUTE_TYPE type, ByteView value) {
    items_.push_back(std::make_unique<Item>(Item{type, Bytes(value.begin(), value.end())}));
}

std::vector<CK_ATTRIBUTE> Template::Attributes() const {
    std::vector<CK_ATTRIBUTE> out;
    for (const auto& item : items_) {
        out.push_back({item->type, const_cast<uint8_t*>(item->value.data()),
                       static_cast<CK_ULONG>(item->value.size())});
    }
    return out;
}

Template::~Template() {
    for (auto& item : items_) {
        Wipe(item->value);
    }
}

ByteView P256Params() {
    return ByteView(kP256Oid, sizeof kP256Oid);
}

std::unique_ptr<KeyPairTemplates> NewKeyPairTemplates(TokenKeyType type, int rsaBits, KeyRole role,
                                                      ByteView id, const std::string& label) {
    auto t = std::make_unique<KeyPairTemplates>();
    const bool rsa = type == TokenKeyType::kRsa;
    const bool encrypt = role == KeyRole::kEncrypt;
    t->mechanism = rsa ? CKM_RSA_PKCS_KEY_PAIR_GEN : CKM_EC_KEY_PAIR_GEN;
    Template& pub = t->publicKey;
    pub.Ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub.Ulong(CKA_KEY_TYPE, rsa ? CKK_RSA : CKK_EC);
    pub.Bool(CKA_TOKEN, true);
    pub.Bool(CKA_PRIVATE, false);
    pub.Data(CKA_ID, id);
    pub.Text(CKA_LABEL, label);
    if (rsa) {
        pub.Ulong(CKA_MODULUS_BITS, static_cast<CK_ULONG>(rsaBits));
        pub.Data(CKA_PUBLIC_EXPONENT, ByteView(kF4, sizeof kF4));
    } else {
        pub.Data(CKA_EC_PARAMS, P256Params());
    }
    Template& priv = t->privateKey;
    priv.Ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv.Ulong(CKA_KEY_TYPE, rsa ? CKK_RSA : CKK_EC);
    priv.Bool(CKA_TOKEN, true);
    priv.Bool(CKA_PRIVATE, true);
    priv.Bool(CKA_SENSITIVE, true);
    priv.Bool(CKA_EXTRACTABLE, false);
    priv.Data(CKA_ID, id);
    priv.Text(CKA_LABEL, label);
    // Both sign: a request is signed by its own key.
    Usage(pub, priv, true, encrypt && rsa, encrypt && !rsa);
    return t;
}

EvpPkeyPtr ReadTokenPublicKey(TokenSession& session, CK_OBJECT_HANDLE object) {
    std::optional<Bytes> type = session.Attribute(object, CKA_KEY_TYPE);
    CK_ULONG keyType = CKK_VENDOR_DEFINED;
    if (type && type->size() == sizeof keyType) {
        std::memcpy(&keyType, type->data(), sizeof keyType);
    }
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld) {
        Fail(kInternal, "out of memory");
    }
    if (keyType == CKK_RSA) {
        std::optional<Bytes> n = session.Attribute(object, CKA_MODULUS);
        std::optional<Bytes> e = session.Attribute(object, CKA_PUBLIC_EXPONENT);
        if (!n || !e) {
            Fail(kPkcs11, "the token's RSA public key has no readable modulus");
        }
        BnPtr bn = ToBn(*n);
        BnPtr be = ToBn(*e);
        if (!bn || !be || OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, bn.get()) != 1 ||
            OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, be.get()) != 1) {
            Fail(kInternal, "out of memory");
        }
        return FromParams("RSA", bld.get());
    }
    if (keyType == CKK_EC) {
        std::optional<Bytes> params = session.Attribute(object, CKA_EC_PARAMS);
        std::optional<Bytes> point = session.Attribute(object, CKA_EC_POINT);
        if (!params || !point) {
            Fail(kPkcs11, "the token's EC public key has no readable point");
        }
        if (*params != Bytes(kP256Oid, kP256Oid + sizeof kP256Oid)) {
            Fail(kKeyType, "the token's EC key is not on P-256");
        }
        const Bytes bare = BarePoint(*point);
        if (OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1",
                                            0) != 1 ||
            OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, bare.data(),
                                             bare.size()) != 1) {
            Fail(kInternal, "out of memory");
        }
        return FromParams("EC", bld.get());
    }
    Fail(kKeyType, "the token's key is neither RSA nor EC");
}

void ImportTemplates(EVP_PKEY* key, KeyRole role, ByteView id, const std::string& label,
                     Template& priv, Template& pub) {
    const bool rsa = EVP_PKEY_is_a(key, "RSA");
    char group[64] = {};
    size_t groupLength = 0;
    if (!rsa && !(EVP_PKEY_is_a(key, "EC") &&
                  EVP_PKEY_get_group_name(key, group, sizeof group, &groupLength) == 1 &&
                  std::string(group) == "prime256v1")) {
        TakeOpensslError();
        Fail(kKeyType, "only RSA and P-256 keys can be put on a token");
    }
    const bool encrypt = role == KeyRole::kEncrypt;
    for (Template* t : {&priv, &pub}) {
        t->Ulong(CKA_KEY_TYPE, rsa ? CKK_RSA : CKK_EC);
        t->Bool(CKA_TOKEN, true);
        t->Data(CKA_ID, id);
        t->Text(CKA_LABEL, label);
    }
    priv.Ulong(CKA_CLASS, CKO_PRIVATE_KEY);
    priv.Bool(CKA_PRIVATE, true);
    priv.Bool(CKA_SENSITIVE, true);
    priv.Bool(CKA_EXTRACTABLE, false);
    pub.Ulong(CKA_CLASS, CKO_PUBLIC_KEY);
    pub.Bool(CKA_PRIVATE, false);
    Usage(pub, priv, !encrypt, encrypt && rsa, encrypt && !rsa);
    if (rsa) {
        const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                               OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                               OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                               OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
        const CK_ATTRIBUTE_TYPE types[] = {
            CKA_MODULUS, CKA_PUBLIC_EXPONENT, CKA_PRIVATE_EXPONENT, CKA_PRIME_1,
            CKA_PRIME_2, CKA_EXPONENT_1,      CKA_EXPONENT_2,       CKA_COEFFICIENT};
        for (size_t i = 0; i < 8; ++i) {
            Bytes value = BnParam(key, names[i]);
            priv.Data(types[i], value);
            if (i < 2) {
                pub.Data(types[i], value);
            }
            Wipe(value);
        }
        return;
    }
    priv.Data(CKA_EC_PARAMS, P256Params());
    pub.Data(CKA_EC_PARAMS, P256Params());
    Bytes scalar = BnParam(key, OSSL_PKEY_PARAM_PRIV_KEY, 32);
    priv.Data(CKA_VALUE, scalar);
    Wipe(scalar);
    unsigned char point[133];
    size_t pointLength = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &pointLength) != 1) {
        TakeOpensslError();
        Fail(kMalformed, "the EC key has no public point");
    }
    pub.Data(CKA_EC_POINT, WrapPoint(ByteView(point, pointLength)));
}

}  // namespace ref
