#include "crypto/Sm2Cms.h"

#include <openssl/asn1t.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/CryptoFailure.h"
#include "crypto/RawSignature.h"
#include "crypto/Sm2Key.h"

namespace ref {

// The signed attributes as they are signed and verified: a universal SET in
// the order received (OpenSSL's CMS_Attributes_Verify, which it does not
// export).
ASN1_ITEM_TEMPLATE(Sm2SignedAttributes) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SET_ORDER | ASN1_TFLG_IMPTAG | ASN1_TFLG_UNIVERSAL, V_ASN1_SET,
                          Sm2SignedAttributes, X509_ATTRIBUTE)
        ASN1_ITEM_TEMPLATE_END(Sm2SignedAttributes)

            namespace {
    constexpr const char* kSm2WithSm3 = "1.2.156.10197.1.501";
    constexpr const char* kSm2Sign = "1.2.156.10197.1.301.1";

    // Frees the stack only: the attributes in it belong to the SignerInfo.
    void FreeAttributeView(STACK_OF(X509_ATTRIBUTE) * stack) {
        sk_X509_ATTRIBUTE_free(stack);
    }
    using AttributeStackPtr =
        std::unique_ptr<STACK_OF(X509_ATTRIBUTE),
                        OsslDeleter<STACK_OF(X509_ATTRIBUTE), FreeAttributeView>>;

    std::string OidText(const ASN1_OBJECT* oid) {
        char text[80] = {};
        if (oid == nullptr || OBJ_obj2txt(text, sizeof text, oid, 1) <= 0) {
            return {};
        }
        return text;
    }

}  // namespace

CMS_SignerInfo* AddSm2Signer(CMS_ContentInfo* cms, X509* signer, EVP_PKEY* sm2Key,
                             unsigned int flags, std::string_view id) {
    // CMS_KEY_PARAM keeps the signing context open so the id can go on it.
    CMS_SignerInfo* info = CMS_add1_signer(cms, signer, sm2Key, EVP_sm3(), flags | CMS_KEY_PARAM);
    if (info == nullptr) {
        FailOpenssl(kInternal, "cannot add the SM2 signer");
    }
    X509_ALGOR* signatureAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, nullptr, nullptr, &signatureAlgorithm);
    if (signatureAlgorithm == nullptr ||
        X509_ALGOR_set0(signatureAlgorithm, OBJ_nid2obj(NID_SM2_with_SM3), V_ASN1_UNDEF, nullptr) !=
            1) {
        FailOpenssl(kInternal, "cannot set the SM2-with-SM3 signature algorithm");
    }
    EVP_PKEY_CTX* ctx = CMS_SignerInfo_get0_pkey_ctx(info);
    if (ctx == nullptr ||
        EVP_PKEY_CTX_set1_id(ctx, id.empty() ? "" : id.data(), static_cast<int>(id.size())) <= 0) {
        FailOpenssl(kInternal, "cannot set the SM2 distinguishing id on the signer");
    }
    return info;
}

bool IsSm2SignatureAlgorithm(CMS_SignerInfo* signerInfo) {
    X509_ALGOR* signatureAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(signerInfo, nullptr, nullptr, nullptr, &signatureAlgorithm);
    if (signatureAlgorithm == nullptr) {
        return false;
    }
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, signatureAlgorithm);
    const std::string text = OidText(oid);
    return text == kSm2WithSm3 || text == kSm2Sign;
}

int32_t VerifySm2SignedAttributes(CMS_SignerInfo* signerInfo, std::string_view id) {
    X509* signer = nullptr;
    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(signerInfo, nullptr, &signer, &digestAlgorithm, nullptr);
    const ASN1_OBJECT* digestOid = nullptr;
    X509_ALGOR_get0(&digestOid, nullptr, nullptr, digestAlgorithm);
    // An SM2 label on another key's signature is no SM2 signature; and SM2
    // signs over SM3 only.
    if (signer == nullptr || KindOf(X509_get0_pubkey(signer)) != KeyKind::kSm2 ||
        OBJ_obj2nid(digestOid) != NID_sm3) {
        return kBadSignature;
    }
    const int count = CMS_signed_get_attr_count(signerInfo);
    if (count <= 0) {
        return kBadSignature;  // nothing signed but the content, unsupported for SM2
    }
    // A view of the attributes; they stay owned by the SignerInfo.
    AttributeStackPtr attributes(sk_X509_ATTRIBUTE_new_null());
    for (int i = 0; attributes && i < count; ++i) {
        if (sk_X509_ATTRIBUTE_push(attributes.get(), CMS_signed_get_attr(signerInfo, i)) <= 0) {
            attributes.reset();
        }
    }
    unsigned char* encoded = nullptr;
    const int length = attributes ? ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(attributes.get()),
                                                  &encoded, ASN1_ITEM_rptr(Sm2SignedAttributes))
                                  : -1;
    if (length <= 0) {
        FailOpenssl(kInternal, "cannot encode the signed attributes");
    }
    Bytes signedBytes(encoded, encoded + length);
    OPENSSL_free(encoded);

    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signerInfo);
    if (signature == nullptr) {
        return kBadSignature;
    }
    ByteView signatureBytes(ASN1_STRING_get0_data(signature),
                            static_cast<size_t>(ASN1_STRING_length(signature)));
    const int32_t code =
        VerifyData(X509_get0_pubkey(signer), Hash::kSm3, signedBytes, signatureBytes, id);
    return code == kOk ? kOk : kBadSignature;
}

}  // namespace ref
