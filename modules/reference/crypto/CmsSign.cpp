// CMS SignedData with one signer: OpenSSL's CMS for RSA and EC (token keys
// work through their methods), the SM2 signer added by hand.

#include <openssl/x509.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Sm2Cms.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

Bytes CmsDer(CMS_ContentInfo* cms) {
    unsigned char* der = nullptr;
    const int length = i2d_CMS_ContentInfo(cms, &der);
    if (length <= 0) {
        FailOpenssl(kInternal, "cannot encode the SignedData");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace

Bytes CmsSign(EVP_PKEY* key, X509* signer, STACK_OF(X509) * chain, ByteView content, bool detached,
              Hash hash) {
    if (key == nullptr || signer == nullptr) {
        Fail(kBadParam, "CMS signing needs a key and its certificate");
    }
    const KeyKind kind = KindOf(key);
    if (kind == KeyKind::kOther) {
        Fail(kKeyType, "only RSA, EC and SM2 keys can sign CMS");
    }
    EvpPkeyPtr sm2;
    EVP_PKEY* signingKey = key;
    if (kind == KeyKind::kSm2) {
        sm2 = AsSm2Key(key);
        signingKey = sm2.get();
        if (IsLegacySm2Key(signingKey)) {
            // OpenSSL 3.0's CMS signs only provider SM2 keys; this one's
            // private half cannot leave its token.
            Fail(kUnsupported, "SM2 CMS signing needs a software SM2 key");
        }
    }
    if (X509_check_private_key(signer, signingKey) != 1) {
        FailOpenssl(kNoKey, "the private key does not belong to the signer certificate");
    }

    // CMS_BINARY: the bytes are signed as given, no MIME canonical form.
    const unsigned int flags = CMS_BINARY | (detached ? CMS_DETACHED : 0u);
    static const uint8_t kNothing = 0;  // a memory BIO refuses a null buffer
    BioPtr data = MemoryBio(content.empty() ? ByteView(&kNothing, 0) : content);
    CmsPtr cms(CMS_sign(nullptr, nullptr, chain, data.get(), flags | CMS_PARTIAL));
    if (!data || !cms) {
        FailOpenssl(kInternal, "cannot start the SignedData");
    }
    if (kind == KeyKind::kSm2) {
        AddSm2Signer(cms.get(), signer, signingKey, flags);
    } else if (CMS_add1_signer(cms.get(), signer, signingKey, HashMd(hash), flags) == nullptr) {
        FailOpenssl(kInternal, std::string("cannot add the ") + KindName(kind) + " signer");
    }
    // CMS_final adds signingTime, contentType and messageDigest and signs.
    if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1) {
        FailOpenssl(kInternal, "CMS signing failed");
    }
    return CmsDer(cms.get());
}

}  // namespace ref
