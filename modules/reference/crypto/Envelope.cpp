// EnvelopedData with OpenSSL's CMS. SM2 recipients need one step by hand:
// OpenSSL 3.0 encrypts the content key with SM2 but leaves the
// keyEncryptionAlgorithm empty, so it is set to sm2encrypt before the
// envelope is finished.

#include "crypto/Envelope.h"

#include <openssl/cms.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>

#include <strings.h>

#include <algorithm>
#include <string_view>

#include "core/Ossl.h"
#include "core/Outcome.h"
#include "crypto/Algorithms.h"
#include "crypto/CryptoFailure.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

constexpr const char* kSm2EncryptOid = "1.2.156.10197.1.301.3";
constexpr std::string_view kGmContentTypes = "1.2.156.10197.6.1.4.2.";

bool IsGmType(CMS_ContentInfo* cms) {
    char text[80] = {};
    const int length = OBJ_obj2txt(text, sizeof text, CMS_get0_type(cms), 1);
    return length > 0 && std::string_view(text).starts_with(kGmContentTypes);
}

void RequireEnvelope(CMS_ContentInfo* cms) {
    if (IsGmType(cms))
        Fail(kUnsupported, "GM/T 0010 envelopes are not supported yet");
    if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_enveloped)
        Fail(kMalformed, "the CMS is not an EnvelopedData");
}
// CMS_BINARY: the content is taken as bytes, no MIME canonical form.
constexpr unsigned int kBaseFlags = CMS_BINARY;

void SetRsaOaep(CMS_RecipientInfo* ri) {
    EVP_PKEY_CTX* ctx = CMS_RecipientInfo_get0_pkey_ctx(ri);
    if (ctx == nullptr || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(ctx, EVP_sha256()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, EVP_sha256()) <= 0) {
        FailOpenssl(kInternal, "cannot choose RSA-OAEP for a recipient");
    }
}

void SetSm2KeyEncryption(CMS_RecipientInfo* ri) {
    X509_ALGOR* algorithm = nullptr;
    if (CMS_RecipientInfo_ktri_get0_algs(ri, nullptr, nullptr, &algorithm) != 1 ||
        algorithm == nullptr) {
        FailOpenssl(kInternal, "the SM2 recipient has no key transport");
    }
    ASN1_OBJECT* oid = OBJ_txt2obj(kSm2EncryptOid, 1);
    if (oid == nullptr || X509_ALGOR_set0(algorithm, oid, V_ASN1_UNDEF, nullptr) != 1) {
        ASN1_OBJECT_free(oid);
        FailOpenssl(kInternal, "cannot set sm2encrypt");
    }
}

void AddRecipient(CMS_ContentInfo* cms, X509* cert, bool oaep, unsigned int flags) {
    if (cert == nullptr)
        Fail(kBadParam, "a recipient certificate is missing");
    const KeyKind kind = KindOf(X509_get0_pubkey(cert));
    if (kind == KeyKind::kOther) {
        Fail(kKeyType, "only RSA, EC and SM2 certificates can receive an envelope");
    }
    // CMS_KEY_PARAM keeps the key context open so OAEP can be chosen on it.
    const bool rsaOaep = oaep && kind == KeyKind::kRsa;
    CMS_RecipientInfo* ri =
        CMS_add1_recipient_cert(cms, cert, flags | (rsaOaep ? CMS_KEY_PARAM : 0u));
    if (ri == nullptr) {
        FailOpenssl(kKeyType, std::string("cannot add the ") + KindName(kind) + " recipient");
    }
    if (rsaOaep)
        SetRsaOaep(ri);
    if (kind == KeyKind::kSm2)
        SetSm2KeyEncryption(ri);
}

CmsPtr StartEnvelope(const std::vector<X509*>& recipients, const std::string& cipherName, bool oaep,
                     unsigned int flags) {
    const EVP_CIPHER* cipher = EnvelopeCipher(cipherName);
    if (cipher == nullptr)
        Fail(kBadParam, "unknown envelope cipher \"" + cipherName + "\"");
    if (recipients.empty())
        Fail(kBadParam, "an envelope needs at least one recipient");
    CmsPtr cms(CMS_encrypt(nullptr, nullptr, cipher, flags | CMS_PARTIAL));
    if (!cms)
        FailOpenssl(kInternal, "cannot start the EnvelopedData");
    for (X509* cert : recipients) AddRecipient(cms.get(), cert, oaep, flags);
    return cms;
}

CmsPtr ParseCms(ByteView der) {
    const unsigned char* p = der.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(der.size())));
    if (!cms || p != der.data() + der.size()) {
        TakeOpensslError();
        Fail(kMalformed, "the envelope is not DER CMS");
    }
    return cms;
}

CmsPtr ParseEnvelope(ByteView der) {
    CmsPtr cms = ParseCms(der);
    RequireEnvelope(cms.get());
    return cms;
}

void Decrypt(CMS_ContentInfo* cms, EVP_PKEY* key, X509* cert, BIO* out) {
    if (key == nullptr || cert == nullptr)
        Fail(kBadParam, "opening an envelope needs a key and its certificate");
    EvpPkeyPtr sm2;
    if (KindOf(key) == KeyKind::kSm2) {
        sm2 = AsSm2Key(key);
        key = sm2.get();
    }
    // CMS_DEBUG_DECRYPT: a content key that does not decrypt is an error,
    // not a random key that yields garbage one time in 256. The countermeasure
    // it turns off guards servers that answer strangers; this one answers
    // only its own user.
    if (CMS_decrypt(cms, key, cert, nullptr, out, kBaseFlags | CMS_DEBUG_DECRYPT) != 1) {
        FailOpenssl(kDecrypt, "the envelope cannot be opened with this key");
    }
}

Bytes Der(const ASN1_VALUE* value, const ASN1_ITEM* item) {
    unsigned char* der = nullptr;
    const int length = ASN1_item_i2d(value, &der, item);
    if (length <= 0)
        FailOpenssl(kInternal, "cannot encode a recipient id");
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

EnvelopeRecipient RecipientOf(ASN1_OCTET_STRING* keyId, X509_NAME* issuer, ASN1_INTEGER* serial) {
    EnvelopeRecipient r;
    if (keyId != nullptr) {
        r.keyId.assign(keyId->data, keyId->data + keyId->length);
    } else if (issuer != nullptr && serial != nullptr) {
        r.issuerDer = Der(reinterpret_cast<ASN1_VALUE*>(issuer), ASN1_ITEM_rptr(X509_NAME));
        r.serialDer = Der(reinterpret_cast<ASN1_VALUE*>(serial), ASN1_ITEM_rptr(ASN1_INTEGER));
    }
    return r;
}

void CollectKari(CMS_RecipientInfo* ri, std::vector<EnvelopeRecipient>& out) {
    STACK_OF(CMS_RecipientEncryptedKey)* keys = CMS_RecipientInfo_kari_get0_reks(ri);
    for (int i = 0; i < sk_CMS_RecipientEncryptedKey_num(keys); ++i) {
        ASN1_OCTET_STRING* keyId = nullptr;
        X509_NAME* issuer = nullptr;
        ASN1_INTEGER* serial = nullptr;
        if (CMS_RecipientEncryptedKey_get0_id(sk_CMS_RecipientEncryptedKey_value(keys, i), &keyId,
                                              nullptr, nullptr, &issuer, &serial) == 1) {
            out.push_back(RecipientOf(keyId, issuer, serial));
        }
    }
}

}  // namespace

const EVP_CIPHER* EnvelopeCipher(const std::string& name) {
    static const struct {
        const char* name;
        const EVP_CIPHER* (*cipher)();
    } kCiphers[] = {
        {"AES-128-CBC", EVP_aes_128_cbc},
        {"AES-256-CBC", EVP_aes_256_cbc},
        {"DES-EDE3-CBC", EVP_des_ede3_cbc},
        {"SM4-CBC", EVP_sm4_cbc},
    };
    for (const auto& c : kCiphers) {
        if (strcasecmp(c.name, name.c_str()) == 0)
            return c.cipher();
    }
    return nullptr;
}

Bytes EnvelopeEncrypt(const std::vector<X509*>& recipients, const std::string& cipher, bool oaep,
                      ByteView content) {
    return EnvelopeEncryptTyped(recipients, cipher, oaep, content, nullptr);
}

Bytes EnvelopeEncryptTyped(const std::vector<X509*>& recipients, const std::string& cipher,
                           bool oaep, ByteView content, const char* contentTypeOid) {
    CmsPtr cms = StartEnvelope(recipients, cipher, oaep, kBaseFlags);
    if (contentTypeOid != nullptr) {
        ASN1_OBJECT* type = OBJ_txt2obj(contentTypeOid, 1);
        const bool set = type != nullptr && CMS_set1_eContentType(cms.get(), type) == 1;
        ASN1_OBJECT_free(type);
        if (!set)
            FailOpenssl(kInternal, "cannot set the content type");
    }
    static const uint8_t kNothing = 0;  // a memory BIO refuses a null buffer
    BioPtr data = MemoryBio(content.empty() ? ByteView(&kNothing, 0) : content);
    if (!data || CMS_final(cms.get(), data.get(), nullptr, kBaseFlags) != 1) {
        FailOpenssl(kInternal, "cannot encrypt the envelope");
    }
    return Der(reinterpret_cast<ASN1_VALUE*>(cms.get()), ASN1_ITEM_rptr(CMS_ContentInfo));
}

void EnvelopeEncryptStream(const std::vector<X509*>& recipients, const std::string& cipher,
                           bool oaep, BIO* in, BIO* out) {
    if (in == nullptr || out == nullptr)
        Fail(kBadParam, "streamed encryption needs an input and an output");
    const unsigned int flags = kBaseFlags | CMS_STREAM;
    CmsPtr cms = StartEnvelope(recipients, cipher, oaep, flags);
    // Written with indefinite lengths as the content streams through.
    if (i2d_CMS_bio_stream(out, cms.get(), in, flags) != 1 || BIO_flush(out) != 1) {
        FailOpenssl(kInternal, "cannot write the envelope");
    }
}

Bytes EnvelopeDecrypt(ByteView cms, EVP_PKEY* key, X509* cert) {
    CmsPtr envelope = ParseEnvelope(cms);
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out)
        FailOpenssl(kInternal, "out of memory");
    Decrypt(envelope.get(), key, cert, out.get());
    return BioBytes(out.get());
}

void EnvelopeDecryptStream(BIO* in, BIO* out, EVP_PKEY* key, X509* cert) {
    if (in == nullptr || out == nullptr)
        Fail(kBadParam, "streamed decryption needs an input and an output");
    CmsPtr envelope(d2i_CMS_bio(in, nullptr));
    if (!envelope) {
        TakeOpensslError();
        Fail(kMalformed, "the envelope is not DER CMS");
    }
    RequireEnvelope(envelope.get());
    Decrypt(envelope.get(), key, cert, out);
    if (BIO_flush(out) != 1)
        FailOpenssl(kInternal, "cannot write the content");
}

std::vector<EnvelopeRecipient> EnvelopeRecipients(ByteView cms) {
    CmsPtr envelope = ParseEnvelope(cms);
    std::vector<EnvelopeRecipient> out;
    STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(envelope.get());
    for (int i = 0; i < sk_CMS_RecipientInfo_num(infos); ++i) {
        CMS_RecipientInfo* ri = sk_CMS_RecipientInfo_value(infos, i);
        if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_TRANS) {
            ASN1_OCTET_STRING* keyId = nullptr;
            X509_NAME* issuer = nullptr;
            ASN1_INTEGER* serial = nullptr;
            if (CMS_RecipientInfo_ktri_get0_signer_id(ri, &keyId, &issuer, &serial) == 1)
                out.push_back(RecipientOf(keyId, issuer, serial));
        } else if (CMS_RecipientInfo_type(ri) == CMS_RECIPINFO_AGREE) {
            CollectKari(ri, out);
        }
    }
    return out;
}

std::vector<EnvelopeRecipient> EnvelopeRecipients(BIO* in) {
    Bytes der;
    uint8_t buffer[16384];
    int n = 0;
    while ((n = BIO_read(in, buffer, sizeof buffer)) > 0) der.insert(der.end(), buffer, buffer + n);
    return EnvelopeRecipients(der);
}

bool IsGmEnvelope(ByteView cms) {
    try {
        return IsGmType(ParseCms(cms).get());
    } catch (const Failure&) {
        return false;
    }
}

bool IsRecipient(const EnvelopeRecipient& recipient, X509* cert) {
    if (cert == nullptr)
        return false;
    if (!recipient.keyId.empty()) {
        const ASN1_OCTET_STRING* own = X509_get0_subject_key_id(cert);
        return own != nullptr && static_cast<size_t>(own->length) == recipient.keyId.size() &&
               std::equal(recipient.keyId.begin(), recipient.keyId.end(), own->data);
    }
    if (recipient.issuerDer.empty() || recipient.serialDer.empty())
        return false;
    const unsigned char* p = recipient.issuerDer.data();
    std::unique_ptr<X509_NAME, OsslDeleter<X509_NAME, X509_NAME_free>> issuer(
        d2i_X509_NAME(nullptr, &p, static_cast<long>(recipient.issuerDer.size())));
    p = recipient.serialDer.data();
    std::unique_ptr<ASN1_INTEGER, OsslDeleter<ASN1_INTEGER, ASN1_INTEGER_free>> serial(
        d2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(recipient.serialDer.size())));
    return issuer && serial && X509_NAME_cmp(issuer.get(), X509_get_issuer_name(cert)) == 0 &&
           ASN1_INTEGER_cmp(serial.get(), X509_get0_serialNumber(cert)) == 0;
}

}  // namespace ref
