// Signing data or a ready digest with any key OpenSSL can drive, including
// token keys behind an RSA_METHOD or EC_KEY_METHOD: only EVP calls here.

#include "crypto/RawSignature.h"

#include <openssl/rsa.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

Bytes DigestSignWith(EVP_MD_CTX* md, ByteView data) {
    size_t length = 0;
    if (EVP_DigestSign(md, nullptr, &length, data.data(), data.size()) != 1) {
        FailOpenssl(kInternal, "signing failed");
    }
    Bytes signature(length);
    if (EVP_DigestSign(md, signature.data(), &length, data.data(), data.size()) != 1) {
        FailOpenssl(kInternal, "signing failed");
    }
    signature.resize(length);
    return signature;
}

Bytes PkeySignWith(EVP_PKEY_CTX* ctx, ByteView digest) {
    size_t length = 0;
    if (EVP_PKEY_sign(ctx, nullptr, &length, digest.data(), digest.size()) != 1) {
        FailOpenssl(kInternal, "signing the digest failed");
    }
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx, signature.data(), &length, digest.data(), digest.size()) != 1) {
        FailOpenssl(kInternal, "signing the digest failed");
    }
    signature.resize(length);
    return signature;
}

Bytes InForm(Bytes der, EVP_PKEY* key, SigForm form) {
    return form == SigForm::kRs ? EcDerToRs(der, EcHalfSize(key)) : der;
}

Bytes SignSm2Data(EVP_PKEY* key, ByteView data, SigForm form, std::string_view id) {
    EvpPkeyPtr sm2 = AsSm2Key(key);
    EvpPkeyCtxPtr ctx = Sm2Context(sm2.get(), id);  // must outlive md, which borrows it
    EvpMdCtxPtr md(EVP_MD_CTX_new());
    if (!md) {
        FailOpenssl(kInternal, "digest context");
    }
    EVP_MD_CTX_set_pkey_ctx(md.get(), ctx.get());
    if (EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, sm2.get()) != 1) {
        FailOpenssl(kInternal, "SM2 signing cannot start");
    }
    return InForm(DigestSignWith(md.get(), data), sm2.get(), form);
}

}  // namespace

Bytes SignData(EVP_PKEY* key, Hash hash, ByteView data, SigForm form, std::string_view sm2Id) {
    const KeyKind kind = KindOf(key);
    if (kind == KeyKind::kSm2) {
        return SignSm2Data(key, data, form, sm2Id);
    }
    if (kind == KeyKind::kOther) {
        Fail(kKeyType, "only RSA, EC and SM2 keys can sign");
    }
    EvpMdCtxPtr md(EVP_MD_CTX_new());
    EVP_PKEY_CTX* ctx = nullptr;  // owned by md
    if (!md || EVP_DigestSignInit(md.get(), &ctx, HashMd(hash), nullptr, key) != 1) {
        FailOpenssl(kInternal,
                    std::string("cannot sign with ") + KindName(kind) + "/" + HashName(hash));
    }
    if (kind == KeyKind::kRsa) {
        if (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) <= 0) {
            FailOpenssl(kInternal, "RSA PKCS#1 v1.5 padding");
        }
        return DigestSignWith(md.get(), data);
    }
    return InForm(DigestSignWith(md.get(), data), key, form);
}

Bytes SignDigest(EVP_PKEY* key, Hash hash, ByteView digest, SigForm form) {
    const KeyKind kind = KindOf(key);
    if (kind == KeyKind::kSm2) {
        Fail(kKeyType, "SM2 keys sign a digest only as e = SM3(Z || M)");
    }
    if (kind == KeyKind::kOther) {
        Fail(kKeyType, "only RSA and EC keys can sign a digest");
    }
    if (digest.size() != HashSize(hash)) {
        Fail(kBadParam, std::string("a ") + HashName(hash) + " digest has " +
                            std::to_string(HashSize(hash)) + " bytes, not " +
                            std::to_string(digest.size()));
    }
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) {
        FailOpenssl(kInternal, "cannot sign a digest with this key");
    }
    if (kind == KeyKind::kRsa) {
        // The md makes OpenSSL wrap the digest in its DigestInfo.
        if (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0 ||
            EVP_PKEY_CTX_set_signature_md(ctx.get(), HashMd(hash)) <= 0) {
            FailOpenssl(kInternal, "RSA DigestInfo signing");
        }
        return PkeySignWith(ctx.get(), digest);
    }
    return InForm(PkeySignWith(ctx.get(), digest), key, form);
}

Bytes Sm2SignDigest(EVP_PKEY* key, ByteView e) {
    EvpPkeyPtr sm2 = AsSm2Key(key);
    if (e.size() != 32) {
        Fail(kBadParam, "e = SM3(Z || M) has 32 bytes, not " + std::to_string(e.size()));
    }
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(sm2.get(), nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) {
        FailOpenssl(kInternal, "cannot sign e with this SM2 key");
    }
    return EcDerToRs(PkeySignWith(ctx.get(), e), EcHalfSize(sm2.get()));
}

}  // namespace ref
