#include "crypto/Sm2Key.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/params.h>

#include "crypto/Algorithms.h"
#include "crypto/CryptoFailure.h"

namespace ref {

namespace {

struct ParamsDeleter {
    void operator()(OSSL_PARAM* params) const noexcept { OSSL_PARAM_free(params); }
};
using ParamsPtr = std::unique_ptr<OSSL_PARAM, ParamsDeleter>;

EvpPkeyPtr RemakeAsSm2(EVP_PKEY* key) {
    EVP_PKEY* made = nullptr;
    // A key pair when there is a private half, else the public key alone.
    for (int selection : {EVP_PKEY_KEYPAIR, EVP_PKEY_PUBLIC_KEY}) {
        OSSL_PARAM* raw = nullptr;
        if (EVP_PKEY_todata(key, selection, &raw) != 1) {
            continue;
        }
        ParamsPtr params(raw);
        EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "SM2", nullptr));
        if (ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1 &&
            EVP_PKEY_fromdata(ctx.get(), &made, selection, params.get()) == 1) {
            break;
        }
    }
    return EvpPkeyPtr(made);
}

bool HasPrivateHalf(const EVP_PKEY* key) {
    BIGNUM* secret = nullptr;
    const bool has = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &secret) == 1;
    BN_clear_free(secret);
    return has;
}

}  // namespace

EvpPkeyPtr AsSm2Key(EVP_PKEY* key) {
    if (KindOf(key) != KeyKind::kSm2) {
        Fail(kKeyType, std::string("an SM2 key is needed, not ") + KindName(KindOf(key)));
    }
    const bool legacy = IsLegacySm2Key(key);
    if (EVP_PKEY_is_a(key, "SM2") && !legacy) {
        EVP_PKEY_up_ref(key);
        return EvpPkeyPtr(key);
    }
    EvpPkeyPtr made = RemakeAsSm2(key);
    if (legacy) {
        TakeOpensslError();
        // Exporting a token key yields its public half only: keep the original.
        if (made && HasPrivateHalf(made.get())) {
            return made;
        }
        EVP_PKEY_up_ref(key);
        return EvpPkeyPtr(key);
    }
    if (made) {
        TakeOpensslError();  // a failed key-pair attempt, if any
        return made;
    }
    FailOpenssl(kKeyType, "EC key on the SM2 curve cannot be used as an SM2 key");
}

bool IsLegacySm2Key(const EVP_PKEY* key) {
    // Provider SM2 keys have no legacy id; assigned EC_KEYs keep the EC base.
    return key != nullptr && EVP_PKEY_is_a(key, "SM2") && EVP_PKEY_get_base_id(key) == EVP_PKEY_EC;
}

EvpPkeyCtxPtr Sm2Context(EVP_PKEY* sm2Key, std::string_view id) {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new(sm2Key, nullptr));
    if (!ctx) {
        FailOpenssl(kInternal, "SM2 context");
    }
    // A zero-length id is legitimate (it is OpenSSL's own default).
    static const unsigned char kEmpty = 0;
    const void* data = id.empty() ? &kEmpty : static_cast<const void*>(id.data());
    if (EVP_PKEY_CTX_set1_id(ctx.get(), data, static_cast<int>(id.size())) <= 0) {
        FailOpenssl(kInternal, "SM2 distinguishing id");
    }
    return ctx;
}

}  // namespace ref
