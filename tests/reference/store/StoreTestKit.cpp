#include "StoreTestKit.h"

#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

ScratchDir::ScratchDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "zqt-store-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string Sh(const std::string& command) {
    CommandResult result = RunShell(command);
    if (result.exitCode != 0) {
        throw std::runtime_error("`" + command + "` failed:\n" + result.output);
    }
    return result.output;
}

ref::Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return ref::Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, ref::ByteView bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

ref::EvpPkeyPtr LoadKey(const std::string& pemPath) {
    const ref::Bytes pem = ReadBytes(pemPath);
    ref::BioPtr bio = ref::MemoryBio(pem);
    ref::EvpPkeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key) {
        throw std::runtime_error("no key in " + pemPath);
    }
    return key;
}

ref::X509Ptr LoadCert(const std::string& pemOrDerPath) {
    ref::X509Ptr cert = ref::ParseCertificate(ReadBytes(pemOrDerPath));
    if (!cert) {
        throw std::runtime_error("no certificate in " + pemOrDerPath);
    }
    return cert;
}

std::string PemOf(X509* cert) {
    ref::BioPtr bio(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(bio.get(), cert);
    return ref::AsString(ref::BioBytes(bio.get()));
}

namespace {

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (ext == nullptr || X509_add_ext(cert, ext, -1) != 1) {
        throw std::runtime_error("cannot add extension " + value);
    }
    X509_EXTENSION_free(ext);
}

void AddNameEntry(X509_NAME* name, const char* field, const std::string& value) {
    if (X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                   0) != 1) {
        throw std::runtime_error("cannot set " + std::string(field));
    }
}

}  // namespace

MadeCert MakeCert(const CertRecipe& recipe) {
    MadeCert made;
    made.key.reset(recipe.keyType == "RSA" ? EVP_RSA_gen(2048) : EVP_EC_gen("P-256"));
    made.cert.reset(X509_new());
    X509* cert = made.cert.get();
    X509_set_version(cert, X509_VERSION_3);
    BIGNUM* serial = nullptr;
    BN_hex2bn(&serial, recipe.serialHex.c_str());
    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(cert));
    BN_free(serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), recipe.notBeforeDays * 86400L);
    X509_gmtime_adj(X509_getm_notAfter(cert), recipe.notAfterDays * 86400L);
    X509_NAME* subject = X509_get_subject_name(cert);
    if (!recipe.org.empty()) {
        AddNameEntry(subject, "O", recipe.org);
    }
    AddNameEntry(subject, "CN", recipe.cn);
    X509* issuerCert = recipe.issuer ? recipe.issuer->cert.get() : cert;
    EVP_PKEY* signingKey = recipe.issuer ? recipe.issuer->key.get() : made.key.get();
    X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
    X509_set_pubkey(cert, made.key.get());
    AddExtension(cert, issuerCert, NID_basic_constraints,
                 recipe.ca ? "critical,CA:TRUE" : "CA:FALSE");
    if (!recipe.keyUsage.empty()) {
        AddExtension(cert, issuerCert, NID_key_usage, recipe.keyUsage);
    }
    if (!made.key || X509_sign(cert, signingKey, EVP_sha256()) <= 0) {
        throw std::runtime_error("cannot sign the test certificate " + recipe.cn);
    }
    return made;
}

ref::Bytes BuildPfx(const std::vector<X509*>& certs, EVP_PKEY* key, X509* keyIdOf,
                    const std::string& password) {
    unsigned char keyId[EVP_MAX_MD_SIZE];
    unsigned int keyIdLength = 0;
    if (keyIdOf != nullptr) {
        X509_digest(keyIdOf, EVP_sha1(), keyId, &keyIdLength);
    }
    STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
    for (X509* cert : certs) {
        PKCS12_SAFEBAG* bag = PKCS12_add_cert(&bags, cert);
        if (cert == keyIdOf) {
            PKCS12_add_localkeyid(bag, keyId, static_cast<int>(keyIdLength));
        }
    }
    STACK_OF(PKCS7)* safes = nullptr;
    PKCS12_add_safe(&safes, bags, -1, 0, nullptr);  // certificates in the clear
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    if (key != nullptr) {
        STACK_OF(PKCS12_SAFEBAG)* keyBags = nullptr;
        PKCS12_SAFEBAG* bag =
            PKCS12_add_key(&keyBags, key, 0, 2048, NID_aes_256_cbc, password.c_str());
        if (keyIdLength > 0) {
            PKCS12_add_localkeyid(bag, keyId, static_cast<int>(keyIdLength));
        }
        PKCS12_add_safe(&safes, keyBags, -1, 0, nullptr);
        sk_PKCS12_SAFEBAG_pop_free(keyBags, PKCS12_SAFEBAG_free);
    }
    ref::Pkcs12Ptr p12(PKCS12_add_safes(safes, 0));
    sk_PKCS7_pop_free(safes, PKCS7_free);
    if (!p12 ||
        PKCS12_set_mac(p12.get(), password.c_str(), -1, nullptr, 0, 2048, EVP_sha256()) != 1) {
        throw std::runtime_error("cannot build the PKCS#12 file");
    }
    unsigned char* der = nullptr;
    const int length = i2d_PKCS12(p12.get(), &der);
    ref::Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

std::string Sha1Hex(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha1(), digest, &length);
    return ref::HexEncode(ref::ByteView(digest, length));
}

ref::Criteria Crit(std::initializer_list<CriteriaField> fields) {
    ref::Criteria criteria;
    for (const auto& [field, value] : fields) {
        criteria.*field = value;
    }
    return criteria;
}
