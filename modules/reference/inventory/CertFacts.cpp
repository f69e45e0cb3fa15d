#include "inventory/CertFacts.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <utility>

namespace ref {
namespace {

std::string Utf8(const ASN1_STRING* value) {
    unsigned char* text = nullptr;
    const int length = ASN1_STRING_to_UTF8(&text, value);
    if (length < 0) {
        ERR_clear_error();
        return {};
    }
    std::string out(reinterpret_cast<char*>(text), static_cast<size_t>(length));
    OPENSSL_free(text);
    return out;
}

struct UsageName {
    uint32_t bit;
    const char* name;
};
constexpr UsageName kUsageNames[] = {
    {KU_DIGITAL_SIGNATURE, "digitalSignature"},
    {KU_NON_REPUDIATION, "nonRepudiation"},
    {KU_KEY_ENCIPHERMENT, "keyEncipherment"},
    {KU_DATA_ENCIPHERMENT, "dataEncipherment"},
    {KU_KEY_AGREEMENT, "keyAgreement"},
    {KU_KEY_CERT_SIGN, "keyCertSign"},
    {KU_CRL_SIGN, "cRLSign"},
    {KU_ENCIPHER_ONLY, "encipherOnly"},
    {KU_DECIPHER_ONLY, "decipherOnly"},
};

}  // namespace

std::string NameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || name == nullptr ||
        X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0) {
        ERR_clear_error();
        return {};
    }
    return AsString(BioBytes(bio.get()));
}

std::string CommonName(X509* cert) {
    const X509_NAME* name = X509_get_subject_name(cert);
    int last = -1;
    for (int i = -1; (i = X509_NAME_get_index_by_NID(name, NID_commonName, i)) >= 0;) {
        last = i;
    }
    if (last < 0) {
        return {};
    }
    return Utf8(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, last)));
}

std::string SerialText(X509* cert) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    const int length = ASN1_STRING_length(serial);
    if (length <= 0) {
        return "00";
    }
    const std::string hex = HexEncode(ByteView(ASN1_STRING_get0_data(serial), length));
    return ASN1_STRING_type(serial) == V_ASN1_NEG_INTEGER ? "-" + hex : hex;
}

std::string KeyAlgorithm(X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (key == nullptr) {
        ERR_clear_error();
        return "unknown";
    }
    if (EVP_PKEY_is_a(key, "SM2")) {
        return "SM2";
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        char group[80] = {};
        size_t length = 0;
        if (EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
            OBJ_txt2nid(group) == NID_sm2) {
            return "SM2";
        }
        ERR_clear_error();
        return "EC";
    }
    if (EVP_PKEY_is_a(key, "RSA")) {
        return "RSA";
    }
    const char* name = EVP_PKEY_get0_type_name(key);
    return name != nullptr ? name : "unknown";
}

int KeyBits(X509* cert) {
    EVP_PKEY* key = X509_get0_pubkey(cert);
    ERR_clear_error();
    return key != nullptr ? EVP_PKEY_get_bits(key) : 0;
}

uint32_t KeyUsageBits(X509* cert) {
    const uint32_t bits = X509_get_key_usage(cert);
    ERR_clear_error();
    return bits;
}

std::string KeyUsageText(X509* cert) {
    const uint32_t bits = KeyUsageBits(cert);
    if (bits == kAnyKeyUsage) {
        return {};
    }
    std::string out;
    for (const UsageName& usage : kUsageNames) {
        if ((bits & usage.bit) != 0) {
            if (!out.empty())
                out += ',';
            out += usage.name;
        }
    }
    return out;
}

bool UsableForSigning(X509* cert) {
    return (KeyUsageBits(cert) & (KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION)) != 0;
}

bool UsableForEncryption(X509* cert) {
    return (KeyUsageBits(cert) & (KU_KEY_ENCIPHERMENT | KU_DATA_ENCIPHERMENT | KU_KEY_AGREEMENT)) !=
           0;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1) {
        ERR_clear_error();
        return {};
    }
    char text[32];
    if (std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm) == 0) {
        return {};
    }
    return text;
}

bool ValidNow(X509* cert) {
    // X509_cmp_time: -1 earlier than (or equal to) now, 1 later, 0 unreadable.
    const bool started = X509_cmp_time(X509_get0_notBefore(cert), nullptr) == -1;
    const bool ended = X509_cmp_time(X509_get0_notAfter(cert), nullptr) != 1;
    ERR_clear_error();
    return started && !ended;
}

Bytes Digest(ByteView der, const EVP_MD* md) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(der.data(), der.size(), digest, &length, md, nullptr) != 1) {
        ERR_clear_error();
        return {};
    }
    return Bytes(digest, digest + length);
}

std::string SignatureAlgorithm(X509* cert) {
    const X509_ALGOR* algorithm = nullptr;
    X509_get0_signature(nullptr, &algorithm, cert);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    const int nid = OBJ_obj2nid(oid);
    if (nid != NID_undef) {
        return OBJ_nid2ln(nid);
    }
    char text[128] = {};
    OBJ_obj2txt(text, sizeof text, oid, 1);
    return text;
}

}  // namespace ref
