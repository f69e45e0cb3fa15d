// An EC_KEY whose private operations are CKM_ECDSA and CKM_ECDH1_DERIVE on
// the token. The token signs the digest the host made; its r||s becomes an
// ECDSA_SIG, and the DER form is built on that.

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>

#include <algorithm>
#include <cstring>

#include "pkcs11/P11Session.h"
#include "pkcs11/TokenKey.h"

namespace ref {

namespace {

int EcLinkIndex() {
    static const int index = EC_KEY_get_ex_new_index(0, nullptr, nullptr, DupKeyLink, FreeKeyLink);
    return index;
}

const KeyLink* LinkOf(const EC_KEY* key) {
    return static_cast<const KeyLink*>(EC_KEY_get_ex_data(key, EcLinkIndex()));
}

size_t OrderBytes(const EC_KEY* key) {
    const EC_GROUP* group = EC_KEY_get0_group(key);
    return group == nullptr ? 0 : static_cast<size_t>((EC_GROUP_order_bits(group) + 7) / 8);
}

size_t FieldBytes(const EC_KEY* key) {
    const EC_GROUP* group = EC_KEY_get0_group(key);
    return group == nullptr ? 0 : static_cast<size_t>((EC_GROUP_get_degree(group) + 7) / 8);
}

ECDSA_SIG* EcSignSig(const unsigned char* digest, int length, const BIGNUM*, const BIGNUM*,
                     EC_KEY* key) {
    const KeyLink* link = LinkOf(key);
    return GuardCallback(link, static_cast<ECDSA_SIG*>(nullptr), [&] {
        size_t orderBytes = OrderBytes(key);
        if (orderBytes == 0 || length < 0) {
            Fail(kInternal, "EC key without a group");
        }
        // ECDSA uses the digest's leftmost bits; some tokens refuse longer
        // input instead of truncating it themselves.
        size_t used = std::min(static_cast<size_t>(length), orderBytes);
        CK_MECHANISM mechanism{CKM_ECDSA, nullptr, 0};
        Bytes rs = link->session->Sign(link->key, link->alwaysAuthenticate, mechanism,
                                       ByteView(digest, used), 2 * orderBytes);
        if (rs.empty() || rs.size() % 2 != 0) {
            Fail(kPkcs11, "C_Sign: the token's ECDSA signature has an odd length");
        }
        size_t half = rs.size() / 2;
        BIGNUM* r = BN_bin2bn(rs.data(), static_cast<int>(half), nullptr);
        BIGNUM* s = BN_bin2bn(rs.data() + half, static_cast<int>(half), nullptr);
        ECDSA_SIG* signature = ECDSA_SIG_new();
        if (r == nullptr || s == nullptr || signature == nullptr ||
            ECDSA_SIG_set0(signature, r, s) != 1) {
            BN_free(r);
            BN_free(s);
            ECDSA_SIG_free(signature);
            Fail(kInternal, "out of memory");
        }
        return signature;
    });
}

int EcSign(int, const unsigned char* digest, int length, unsigned char* sig, unsigned int* siglen,
           const BIGNUM* kinv, const BIGNUM* r, EC_KEY* key) {
    ECDSA_SIG* signature = EcSignSig(digest, length, kinv, r, key);
    if (signature == nullptr) {
        *siglen = 0;
        return 0;
    }
    // sig has room for ECDSA_size(key) bytes, the DER maximum.
    unsigned char* out = sig;
    int written = i2d_ECDSA_SIG(signature, &out);
    ECDSA_SIG_free(signature);
    if (written <= 0) {
        *siglen = 0;
        return 0;
    }
    *siglen = static_cast<unsigned int>(written);
    return 1;
}

int EcComputeKey(unsigned char** secret, size_t* secretLength, const EC_POINT* peer,
                 const EC_KEY* key) {
    const KeyLink* link = LinkOf(key);
    return GuardCallback(link, 0, [&] {
        const EC_GROUP* group = EC_KEY_get0_group(key);
        size_t size =
            EC_POINT_point2oct(group, peer, POINT_CONVERSION_UNCOMPRESSED, nullptr, 0, nullptr);
        Bytes point(size);
        if (size == 0 || EC_POINT_point2oct(group, peer, POINT_CONVERSION_UNCOMPRESSED,
                                            point.data(), point.size(), nullptr) != size) {
            Fail(kDecrypt, "the peer's EC point cannot be encoded");
        }
        Bytes shared =
            link->session->Derive(link->key, link->alwaysAuthenticate, point, FieldBytes(key));
        auto* out = static_cast<unsigned char*>(OPENSSL_malloc(shared.size()));
        if (out == nullptr) {
            OPENSSL_cleanse(shared.data(), shared.size());
            Fail(kInternal, "out of memory");
        }
        std::memcpy(out, shared.data(), shared.size());
        OPENSSL_cleanse(shared.data(), shared.size());
        *secret = out;
        *secretLength = shared.size();
        return 1;
    });
}

EC_KEY_METHOD* MakeMethod() {
    EC_KEY_METHOD* method = EC_KEY_METHOD_new(EC_KEY_OpenSSL());
    if (method == nullptr) {
        return nullptr;
    }
    EC_KEY_METHOD_set_sign(method, EcSign, nullptr, EcSignSig);
    EC_KEY_METHOD_set_compute_key(method, EcComputeKey);
    return method;
}

// Made once per process and never freed, like the RSA method.
const EC_KEY_METHOD* TokenEcMethod() {
    static const EC_KEY_METHOD* method = MakeMethod();
    return method;
}

}  // namespace

EvpPkeyPtr MakeTokenEcKey(KeyLink link, EVP_PKEY* publicKey) {
    const EC_KEY* pub = EVP_PKEY_get0_EC_KEY(publicKey);
    const EC_KEY_METHOD* method = TokenEcMethod();
    if (pub == nullptr || method == nullptr) {
        Fail(kInternal, "cannot make an EC key for the token");
    }
    std::unique_ptr<EC_KEY, OsslDeleter<EC_KEY, EC_KEY_free>> ec(EC_KEY_new());
    if (!ec || EC_KEY_set_method(ec.get(), method) != 1 ||
        EC_KEY_set_group(ec.get(), EC_KEY_get0_group(pub)) != 1 ||
        EC_KEY_set_public_key(ec.get(), EC_KEY_get0_public_key(pub)) != 1) {
        Fail(kInternal, "cannot make an EC key for the token");
    }
    auto* data = new KeyLink(std::move(link));
    if (EC_KEY_set_ex_data(ec.get(), EcLinkIndex(), data) != 1) {
        delete data;
        Fail(kInternal, "cannot attach the token to an EC key");
    }
    EvpPkeyPtr key(EVP_PKEY_new());
    if (!key || EVP_PKEY_assign_EC_KEY(key.get(), ec.get()) != 1) {
        Fail(kInternal, "cannot make an EVP_PKEY for the token key");
    }
    ec.release();  // owned by key now
    return key;
}

}  // namespace ref
