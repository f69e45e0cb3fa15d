#include "enrol/EncKey.h"

#include <openssl/cms.h>
#include <openssl/pem.h>

#include "core/Outcome.h"
#include "crypto/Envelope.h"
#include "enrol/EnrolKeys.h"

namespace ref {

namespace {

// A PKCS#8 key, DER or PEM, never one that wants a password.
EvpPkeyPtr ParsePkcs8(const Bytes& content) {
    const unsigned char* p = content.data();
    PKCS8_PRIV_KEY_INFO* info =
        d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(content.size()));
    EvpPkeyPtr key(info != nullptr ? EVP_PKCS82PKEY(info) : nullptr);
    PKCS8_PRIV_KEY_INFO_free(info);
    if (!key) {
        BioPtr bio = MemoryBio(content);
        static char kNoPassword[] = "";
        key.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, kNoPassword));
    }
    TakeOpensslError();
    if (!key)
        Fail(kMalformed, "the envelope holds no unencrypted PKCS#8 private key");
    return key;
}

}  // namespace

Bytes EncKeyEnvelope(std::string_view text) {
    const auto der = Base64Decode(text);
    if (der && !der->empty()) {
        BioPtr bio = MemoryBio(*der);
        CmsPtr cms(d2i_CMS_bio(bio.get(), nullptr));
        const bool enveloped = cms && OBJ_obj2nid(CMS_get0_type(cms.get())) == NID_pkcs7_enveloped;
        TakeOpensslError();
        if (enveloped)
            return *der;
    }
    Fail(kUnsupported,
         "the encryption key is not a CMS EnvelopedData; vendor key blobs are not supported");
}

EvpPkeyPtr OpenEncKey(ByteView envelope, EVP_PKEY* signKey, X509* signCert, X509* encCert) {
    Bytes content = EnvelopeDecrypt(envelope, signKey, signCert);
    EvpPkeyPtr key;
    try {
        key = ParsePkcs8(content);
    } catch (...) {
        OPENSSL_cleanse(content.data(), content.size());
        throw;
    }
    OPENSSL_cleanse(content.data(), content.size());
    if (!SamePublicKey(key.get(), X509_get0_pubkey(encCert)))
        Fail(kNoKey, "the encryption key sent does not belong to the encryption certificate");
    return key;
}

}  // namespace ref
