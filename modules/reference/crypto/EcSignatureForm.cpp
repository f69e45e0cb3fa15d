// The two forms of an EC or SM2 signature: DER SEQUENCE {r, s} and the
// fixed-length r || s of smart cards and GM/T 0009.

#include <openssl/bn.h>
#include <openssl/ecdsa.h>

#include <memory>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/RawSignature.h"

namespace ref {

namespace {

using EcdsaSigPtr = std::unique_ptr<ECDSA_SIG, OsslDeleter<ECDSA_SIG, ECDSA_SIG_free>>;
using BignumPtr = std::unique_ptr<BIGNUM, OsslDeleter<BIGNUM, BN_free>>;

}  // namespace

Bytes EcDerToRs(ByteView der, size_t half) {
    const unsigned char* p = der.data();
    EcdsaSigPtr sig(der.empty() ? nullptr
                                : d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())));
    if (!sig || p != der.data() + der.size()) {
        TakeOpensslError();
        Fail(kMalformed, "EC signature is not a DER SEQUENCE {r, s}");
    }
    const BIGNUM* r = ECDSA_SIG_get0_r(sig.get());
    const BIGNUM* s = ECDSA_SIG_get0_s(sig.get());
    if (half == 0 || BN_is_negative(r) || BN_is_negative(s)) {
        Fail(kMalformed, "EC signature has a negative part");
    }
    Bytes rs(2 * half);
    if (BN_bn2binpad(r, rs.data(), static_cast<int>(half)) < 0 ||
        BN_bn2binpad(s, rs.data() + half, static_cast<int>(half)) < 0) {
        Fail(kMalformed, "EC signature part longer than the key's order");
    }
    return rs;
}

Bytes EcRsToDer(ByteView rs) {
    if (rs.empty() || rs.size() % 2 != 0) {
        Fail(kMalformed, "r || s signature of odd or zero length");
    }
    const size_t half = rs.size() / 2;
    BignumPtr r(BN_bin2bn(rs.data(), static_cast<int>(half), nullptr));
    BignumPtr s(BN_bin2bn(rs.data() + half, static_cast<int>(half), nullptr));
    EcdsaSigPtr sig(ECDSA_SIG_new());
    if (!r || !s || !sig || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) {
        TakeOpensslError();
        Fail(kInternal, "cannot build an ECDSA-Sig-Value");
    }
    r.release();  // owned by sig now
    s.release();
    unsigned char* der = nullptr;
    const int length = i2d_ECDSA_SIG(sig.get(), &der);
    if (length <= 0) {
        TakeOpensslError();
        Fail(kInternal, "cannot encode an ECDSA-Sig-Value");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

size_t EcHalfSize(EVP_PKEY* key) {
    const int bits = key == nullptr ? 0 : EVP_PKEY_get_bits(key);
    return bits > 0 ? static_cast<size_t>(bits + 7) / 8 : 0;
}

}  // namespace ref
