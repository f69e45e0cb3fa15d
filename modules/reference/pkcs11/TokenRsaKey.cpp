// An RSA whose private operations are C_Sign and C_Decrypt on the token.
// Hashing stays on the host and the DigestInfo is built here, so tokens
// without CKM_SHA256_RSA_PKCS and the like work.

#include <openssl/bn.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "pkcs11/P11Session.h"
#include "pkcs11/TokenKey.h"

namespace ref {

namespace {

int RsaLinkIndex() {
    static const int index = RSA_get_ex_new_index(0, nullptr, nullptr, DupKeyLink, FreeKeyLink);
    return index;
}

const KeyLink* LinkOf(const RSA* rsa) {
    return static_cast<const KeyLink*>(RSA_get_ex_data(rsa, RsaLinkIndex()));
}

// DER DigestInfo { AlgorithmIdentifier { digest, NULL }, OCTET STRING digest }.
Bytes DigestInfo(int digestNid, ByteView digest) {
    const ASN1_OBJECT* oid = OBJ_nid2obj(digestNid);
    if (oid == nullptr || OBJ_length(oid) == 0) {
        Fail(kUnsupported, "RSA signature with an unknown digest");
    }
    std::unique_ptr<X509_SIG, OsslDeleter<X509_SIG, X509_SIG_free>> info(X509_SIG_new());
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* octets = nullptr;
    if (!info) {
        Fail(kInternal, "out of memory");
    }
    X509_SIG_getm(info.get(), &algorithm, &octets);
    if (X509_ALGOR_set0(algorithm, OBJ_dup(oid), V_ASN1_NULL, nullptr) != 1 ||
        ASN1_OCTET_STRING_set(octets, digest.data(), static_cast<int>(digest.size())) != 1) {
        Fail(kInternal, "cannot build a DigestInfo");
    }
    unsigned char* der = nullptr;
    int length = i2d_X509_SIG(info.get(), &der);
    if (length <= 0) {
        Fail(kInternal, "cannot encode a DigestInfo");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

size_t ModulusBytes(const RSA* rsa) {
    return static_cast<size_t>(RSA_size(rsa));
}

// Raw RSA results are the modulus' length, leading zeros included, as
// OpenSSL's unpadding code expects.
Bytes LeftPad(Bytes value, size_t size) {
    if (value.size() < size) {
        value.insert(value.begin(), size - value.size(), 0);
    }
    return value;
}

int CopyOut(const Bytes& result, unsigned char* to, size_t room) {
    if (result.size() > room) {
        Fail(kPkcs11, "the token answered more bytes than the key size");
    }
    std::memcpy(to, result.data(), result.size());
    return static_cast<int>(result.size());
}

int RsaSign(int type, const unsigned char* m, unsigned int length, unsigned char* sigret,
            unsigned int* siglen, const RSA* rsa) {
    const KeyLink* link = LinkOf(rsa);
    return GuardCallback(link, 0, [&] {
        Bytes data = type == NID_md5_sha1 ? Bytes(m, m + length)  // TLS 1.0: no DigestInfo
                                          : DigestInfo(type, ByteView(m, length));
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        Bytes signature = link->session->Sign(link->key, link->alwaysAuthenticate, mechanism, data,
                                              ModulusBytes(rsa));
        *siglen = static_cast<unsigned int>(CopyOut(signature, sigret, ModulusBytes(rsa)));
        return 1;
    });
}

// RSA_private_encrypt: PKCS#1 v1.5 over data the caller prepared, or raw
// (PSS is padded by OpenSSL and comes here unpadded).
int RsaPrivateEncrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                      int padding) {
    const KeyLink* link = LinkOf(rsa);
    return GuardCallback(link, -1, [&] {
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        if (padding == RSA_NO_PADDING) {
            mechanism.mechanism = CKM_RSA_X_509;
        } else if (padding != RSA_PKCS1_PADDING) {
            Fail(kUnsupported, "RSA signature padding not offered for token keys");
        }
        Bytes signature =
            link->session->Sign(link->key, link->alwaysAuthenticate, mechanism,
                                ByteView(from, static_cast<size_t>(flen)), ModulusBytes(rsa));
        if (padding == RSA_NO_PADDING) {
            signature = LeftPad(std::move(signature), ModulusBytes(rsa));
        }
        return CopyOut(signature, to, ModulusBytes(rsa));
    });
}

// RSA_private_decrypt. OpenSSL's EVP layer removes OAEP itself and asks
// for a raw decryption (RSA_NO_PADDING), so OAEP with any digest works on
// tokens that offer CKM_RSA_X_509; a direct OAEP request means SHA-1.
int RsaPrivateDecrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                      int padding) {
    const KeyLink* link = LinkOf(rsa);
    return GuardCallback(link, -1, [&] {
        CK_RSA_PKCS_OAEP_PARAMS oaep{CKM_SHA_1, CKG_MGF1_SHA1, CKZ_DATA_SPECIFIED, nullptr, 0};
        CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
        if (padding == RSA_NO_PADDING) {
            mechanism.mechanism = CKM_RSA_X_509;
        } else if (padding == RSA_PKCS1_OAEP_PADDING) {
            mechanism = CK_MECHANISM{CKM_RSA_PKCS_OAEP, &oaep, sizeof oaep};
        } else if (padding != RSA_PKCS1_PADDING) {
            Fail(kUnsupported, "RSA decryption padding not offered for token keys");
        }
        Bytes plain =
            link->session->Decrypt(link->key, link->alwaysAuthenticate, mechanism,
                                   ByteView(from, static_cast<size_t>(flen)), ModulusBytes(rsa));
        if (padding == RSA_NO_PADDING) {
            plain = LeftPad(std::move(plain), ModulusBytes(rsa));
        }
        int copied = CopyOut(plain, to, ModulusBytes(rsa));
        OPENSSL_cleanse(plain.data(), plain.size());
        return copied;
    });
}

RSA_METHOD* MakeMethod() {
    RSA_METHOD* method = RSA_meth_dup(RSA_PKCS1_OpenSSL());
    if (method == nullptr) {
        return nullptr;
    }
    RSA_meth_set1_name(method, "zqt PKCS#11 token RSA");
    RSA_meth_set_flags(method, RSA_meth_get_flags(method) | RSA_FLAG_EXT_PKEY);
    RSA_meth_set_sign(method, RsaSign);
    RSA_meth_set_priv_enc(method, RsaPrivateEncrypt);
    RSA_meth_set_priv_dec(method, RsaPrivateDecrypt);
    return method;
}

// Made once per process and never freed: keys made from it may live until
// exit in caches we do not control.
const RSA_METHOD* TokenRsaMethod() {
    static const RSA_METHOD* method = MakeMethod();
    return method;
}

}  // namespace

EvpPkeyPtr MakeTokenRsaKey(KeyLink link, EVP_PKEY* publicKey) {
    const RSA* pub = EVP_PKEY_get0_RSA(publicKey);
    const RSA_METHOD* method = TokenRsaMethod();
    if (pub == nullptr || method == nullptr) {
        Fail(kInternal, "cannot make an RSA key for the token");
    }
    const BIGNUM* n = nullptr;
    const BIGNUM* e = nullptr;
    RSA_get0_key(pub, &n, &e, nullptr);
    std::unique_ptr<RSA, OsslDeleter<RSA, RSA_free>> rsa(RSA_new());
    BIGNUM* nCopy = BN_dup(n);
    BIGNUM* eCopy = BN_dup(e);
    if (!rsa || nCopy == nullptr || eCopy == nullptr ||
        RSA_set0_key(rsa.get(), nCopy, eCopy, nullptr) != 1) {
        BN_free(nCopy);
        BN_free(eCopy);
        Fail(kInternal, "cannot make an RSA key for the token");
    }
    auto* data = new KeyLink(std::move(link));
    if (RSA_set_method(rsa.get(), method) != 1 ||
        RSA_set_ex_data(rsa.get(), RsaLinkIndex(), data) != 1) {
        delete data;
        Fail(kInternal, "cannot attach the token to an RSA key");
    }
    EvpPkeyPtr key(EVP_PKEY_new());
    if (!key || EVP_PKEY_assign_RSA(key.get(), rsa.get()) != 1) {
        Fail(kInternal, "cannot make an EVP_PKEY for the token key");
    }
    rsa.release();  // owned by key now
    return key;
}

}  // namespace ref
