// Verifying a signature over data with a public key, in any of the forms
// a signer may have produced.

#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/RawSignature.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

using X509SigPtr = std::unique_ptr<X509_SIG, OsslDeleter<X509_SIG, X509_SIG_free>>;

// 1 valid, 0 invalid (any OpenSSL error counts as invalid).
int32_t Result(int verified) {
    TakeOpensslError();
    return verified == 1 ? kOk : kBadSignature;
}

int32_t DigestVerify(EVP_MD_CTX* md, ByteView data, ByteView signature) {
    return Result(
        EVP_DigestVerify(md, signature.data(), signature.size(), data.data(), data.size()));
}

// The hash an RSA signer used, read from the DigestInfo inside the block.
const EVP_MD* RsaSignatureHash(EVP_PKEY* key, ByteView signature) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0) {
        return nullptr;
    }
    Bytes block(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t length = block.size();
    if (EVP_PKEY_verify_recover(ctx.get(), block.data(), &length, signature.data(),
                                signature.size()) != 1) {
        return nullptr;
    }
    const unsigned char* p = block.data();
    X509SigPtr info(d2i_X509_SIG(nullptr, &p, static_cast<long>(length)));
    if (!info) {
        return nullptr;
    }
    const X509_ALGOR* algorithm = nullptr;
    X509_SIG_get0(info.get(), &algorithm, nullptr);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    switch (OBJ_obj2nid(oid)) {
        case NID_sha1:
        case NID_sha256:
        case NID_sha384:
        case NID_sha512:
        case NID_sm3:
            return EVP_get_digestbynid(OBJ_obj2nid(oid));
        default:
            return nullptr;  // MD5 and the like are not accepted
    }
}

int32_t VerifyRsa(EVP_PKEY* key, ByteView data, ByteView signature) {
    if (signature.size() > static_cast<size_t>(EVP_PKEY_get_size(key))) {
        return kMalformed;
    }
    const EVP_MD* hash = RsaSignatureHash(key, signature);
    if (hash == nullptr) {
        return Result(0);
    }
    EvpMdCtxPtr md(EVP_MD_CTX_new());
    EVP_PKEY_CTX* ctx = nullptr;  // owned by md
    if (!md || EVP_DigestVerifyInit(md.get(), &ctx, hash, nullptr, key) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0) {
        return Result(0);
    }
    return DigestVerify(md.get(), data, signature);
}

// Verifies an EC or SM2 signature given as DER or as r || s. A 2*half-byte
// value that happens to parse as DER is tried in both readings.
template <typename VerifyDer>
int32_t VerifyEitherForm(EVP_PKEY* key, ByteView signature, VerifyDer verifyDer) {
    const size_t half = EcHalfSize(key);
    Bytes der;
    bool isDer = true;
    try {
        EcDerToRs(signature, half);
        der.assign(signature.begin(), signature.end());
    } catch (const Failure&) {
        isDer = false;
    }
    if (isDer && verifyDer(der) == kOk) {
        return kOk;
    }
    if (half != 0 && signature.size() == 2 * half) {
        return verifyDer(EcRsToDer(signature));
    }
    return isDer ? kBadSignature : kMalformed;
}

int32_t VerifyEc(EVP_PKEY* key, Hash hash, ByteView data, ByteView signature) {
    return VerifyEitherForm(key, signature, [&](const Bytes& der) {
        EvpMdCtxPtr md(EVP_MD_CTX_new());
        if (!md || EVP_DigestVerifyInit(md.get(), nullptr, HashMd(hash), nullptr, key) != 1) {
            return Result(0);
        }
        return DigestVerify(md.get(), data, der);
    });
}

int32_t VerifySm2(EVP_PKEY* key, ByteView data, ByteView signature, std::string_view id) {
    EvpPkeyPtr sm2 = AsSm2Key(key);
    return VerifyEitherForm(sm2.get(), signature, [&](const Bytes& der) {
        EvpPkeyCtxPtr ctx = Sm2Context(sm2.get(), id);  // outlives md, which borrows it
        EvpMdCtxPtr md(EVP_MD_CTX_new());
        if (!md) {
            return Result(0);
        }
        EVP_MD_CTX_set_pkey_ctx(md.get(), ctx.get());
        if (EVP_DigestVerifyInit(md.get(), nullptr, EVP_sm3(), nullptr, sm2.get()) != 1) {
            return Result(0);
        }
        return DigestVerify(md.get(), data, der);
    });
}

}  // namespace

int32_t VerifyData(EVP_PKEY* publicKey, Hash hash, ByteView data, ByteView signature,
                   std::string_view sm2Id) {
    if (signature.empty()) {
        return kMalformed;
    }
    switch (KindOf(publicKey)) {
        case KeyKind::kRsa:
            return VerifyRsa(publicKey, data, signature);
        case KeyKind::kEc:
            return VerifyEc(publicKey, hash, data, signature);
        case KeyKind::kSm2:
            return VerifySm2(publicKey, data, signature, sm2Id);
        case KeyKind::kOther:
            break;
    }
    return kKeyType;
}

}  // namespace ref
