// Verification of CMS SignedData: signatures and content digests through
// CMS_verify (the SM2 signers' signatures by hand, with the GM id), then
// every signer certificate's validity and chain through the TrustStore, so
// that an expired signer is reported as expired rather than untrusted.

#include <openssl/x509.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Sm2Cms.h"

namespace ref {

namespace {

CmsVerification Answer(int32_t code, std::string message) {
    CmsVerification result;
    result.code = code;
    result.message = std::move(message);
    return result;
}

CmsPtr ParseSignedData(ByteView der) {
    if (der.empty()) {
        return nullptr;
    }
    const unsigned char* p = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
    if (cms && (p != der.data() + der.size() ||
                OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed)) {
        cms.reset();
    }
    TakeOpensslError();
    return cms;
}

bool IsSm2Signer(CMS_SignerInfo* info) {
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, &signer, nullptr, nullptr);
    return IsSm2SignatureAlgorithm(info) || KindOf(X509_get0_pubkey(signer)) == KeyKind::kSm2;
}

// Signatures (own code for SM2, CMS_SignerInfo_verify for the others when
// CMS_verify had to skip all of them) after CMS_verify checked the digests.
int32_t VerifySignatures(STACK_OF(CMS_SignerInfo) * infos, bool anySm2, std::string& message) {
    if (!anySm2) {
        return kOk;
    }
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        int32_t code = kOk;
        if (IsSm2Signer(info)) {
            code = VerifySm2SignedAttributes(info);
        } else if (CMS_signed_get_attr_count(info) >= 0 && CMS_SignerInfo_verify(info) != 1) {
            code = kBadSignature;
        }
        if (code != kOk) {
            message = WithOpensslError("signer " + std::to_string(i + 1) + ": invalid signature");
            return code;
        }
    }
    return kOk;
}

}  // namespace

CmsVerification CmsVerify(ByteView der, const Bytes* detachedContent, TrustStore& trust,
                          bool checkChain) {
    CmsPtr cms = ParseSignedData(der);
    if (!cms) {
        return Answer(kMalformed, "not a DER CMS SignedData");
    }
    const bool detached = CMS_is_detached(cms.get()) == 1;
    if (detached && detachedContent == nullptr) {
        return Answer(kBadParam, "a detached signature needs its content");
    }
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms.get());
    if (sk_CMS_SignerInfo_num(infos) <= 0) {
        return Answer(kMalformed, "the SignedData has no signer");
    }
    // Finds each signer's certificate among the certificates carried inside.
    if (CMS_set1_signers_certs(cms.get(), nullptr, 0) < 0) {
        return Answer(kUntrusted, WithOpensslError("a signer certificate is not included"));
    }
    X509StackPtr certificates(CMS_get1_certs(cms.get()));
    bool anySm2 = false;
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, i);
        X509* signer = nullptr;
        CMS_SignerInfo_get0_algs(info, nullptr, &signer, nullptr, nullptr);
        if (signer == nullptr) {
            return Answer(kUntrusted, "a signer certificate is not included");
        }
        SetSm2CertificateId(signer);
        anySm2 = anySm2 || IsSm2Signer(info);
    }

    // CMS_verify checks every content digest; with an SM2 signer it must
    // skip the signatures over the attributes, which it would check with
    // an empty id. Chains are checked below.
    unsigned int flags = CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY;
    if (anySm2) {
        flags |= CMS_NO_ATTR_VERIFY;
    }
    static const uint8_t kNothing = 0;  // a memory BIO refuses a null buffer
    BioPtr content;
    if (detached) {
        content = MemoryBio(detachedContent->empty() ? ByteView(&kNothing, 0) : *detachedContent);
    }
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || (detached && !content)) {
        FailOpenssl(kInternal, "memory BIO");
    }
    if (CMS_verify(cms.get(), nullptr, nullptr, content.get(), out.get(), flags) != 1) {
        return Answer(kBadSignature, WithOpensslError("signature or content does not verify"));
    }
    std::string message;
    if (const int32_t code = VerifySignatures(infos, anySm2, message); code != kOk) {
        return Answer(code, message);
    }

    CmsVerification result;
    result.content = detached ? *detachedContent : BioBytes(out.get());
    if (!detached && detachedContent != nullptr && *detachedContent != result.content) {
        return Answer(kBadSignature, "the signed content differs from the data given");
    }
    for (int i = 0; i < sk_CMS_SignerInfo_num(infos); ++i) {
        X509* signer = nullptr;
        CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(infos, i), nullptr, &signer, nullptr,
                                 nullptr);
        if (const int32_t code = trust.Check(signer, certificates.get(), checkChain, message);
            code != kOk) {
            return Answer(code, "signer " + std::to_string(i + 1) + ": " + message);
        }
        if (!result.signer) {
            X509_up_ref(signer);
            result.signer.reset(signer);
        }
    }
    result.code = kOk;
    result.message = "OK";
    return result;
}

}  // namespace ref
