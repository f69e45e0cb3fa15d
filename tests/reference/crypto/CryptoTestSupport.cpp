#include "crypto/CryptoTestSupport.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <atomic>
#include <stdexcept>

namespace ref::test {

namespace {

BioPtr FileBio(const std::string& path) {
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        throw std::runtime_error("cannot open " + path);
    }
    return bio;
}

// The real key behind a method key, freed with it.
int RsaRealKeyIndex() {
    static const int index = RSA_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* real, CRYPTO_EX_DATA*, int, long, void*) {
            RSA_free(static_cast<RSA*>(real));
        });
    return index;
}

int EcRealKeyIndex() {
    static const int index = EC_KEY_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* real, CRYPTO_EX_DATA*, int, long, void*) {
            EC_KEY_free(static_cast<EC_KEY*>(real));
        });
    return index;
}

RSA* RealRsa(RSA* rsa) {
    return static_cast<RSA*>(RSA_get_ex_data(rsa, RsaRealKeyIndex()));
}
EC_KEY* RealEc(EC_KEY* ec) {
    return static_cast<EC_KEY*>(EC_KEY_get_ex_data(ec, EcRealKeyIndex()));
}

const RSA_METHOD* TokenRsaMethod() {
    static RSA_METHOD* method = [] {
        RSA_METHOD* made = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        RSA_meth_set1_name(made, "test token RSA");
        RSA_meth_set_priv_enc(made, [](int length, const unsigned char* from, unsigned char* to,
                                       RSA* rsa, int padding) {
            return RSA_private_encrypt(length, from, to, RealRsa(rsa), padding);
        });
        RSA_meth_set_priv_dec(made, [](int length, const unsigned char* from, unsigned char* to,
                                       RSA* rsa, int padding) {
            return RSA_private_decrypt(length, from, to, RealRsa(rsa), padding);
        });
        return made;
    }();
    return method;
}

const EC_KEY_METHOD* TokenEcMethod() {
    static EC_KEY_METHOD* method = [] {
        EC_KEY_METHOD* made = EC_KEY_METHOD_new(EC_KEY_OpenSSL());
        int (*sign)(int, const unsigned char*, int, unsigned char*, unsigned int*, const BIGNUM*,
                    const BIGNUM*, EC_KEY*) = nullptr;
        int (*setup)(EC_KEY*, BN_CTX*, BIGNUM**, BIGNUM**) = nullptr;
        ECDSA_SIG* (*signSig)(const unsigned char*, int, const BIGNUM*, const BIGNUM*, EC_KEY*) =
            nullptr;
        EC_KEY_METHOD_get_sign(made, &sign, &setup, &signSig);
        EC_KEY_METHOD_set_sign(
            made,
            [](int type, const unsigned char* digest, int length, unsigned char* sig,
               unsigned int* sigLength, const BIGNUM*, const BIGNUM*,
               EC_KEY* ec) { return ECDSA_sign(type, digest, length, sig, sigLength, RealEc(ec)); },
            setup,
            [](const unsigned char* digest, int length, const BIGNUM*, const BIGNUM*, EC_KEY* ec) {
                return ECDSA_do_sign(digest, length, RealEc(ec));
            });
        return made;
    }();
    return method;
}

// EVP_PKEY_get1_EC_KEY refuses SM2 keys, so the EC_KEY comes from DER.
EC_KEY* EcKeyOf(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int length = i2d_PrivateKey(key, &der);
    const unsigned char* p = der;
    EC_KEY* ec = length > 0 ? d2i_ECPrivateKey(nullptr, &p, length) : nullptr;
    OPENSSL_free(der);
    return ec;
}

}  // namespace

EvpPkeyPtr AsMethodKey(const TestIdentity& identity) {
    EvpPkeyPtr key = LoadPrivateKey(identity);
    EvpPkeyPtr token(EVP_PKEY_new());
    if (EVP_PKEY_is_a(key.get(), "RSA")) {
        RSA* real = EVP_PKEY_get1_RSA(key.get());
        RSA* rsa = RSA_new();
        RSA_set_method(rsa, TokenRsaMethod());
        RSA_set0_key(rsa, BN_dup(RSA_get0_n(real)), BN_dup(RSA_get0_e(real)), nullptr);
        RSA_set_ex_data(rsa, RsaRealKeyIndex(), real);
        EVP_PKEY_assign_RSA(token.get(), rsa);
        return token;
    }
    EC_KEY* real = EcKeyOf(key.get());
    if (real == nullptr) {
        throw std::runtime_error("no method key for " + identity.key);
    }
    EC_KEY* ec = EC_KEY_new();
    EC_KEY_set_method(ec, TokenEcMethod());
    EC_KEY_set_group(ec, EC_KEY_get0_group(real));
    EC_KEY_set_public_key(ec, EC_KEY_get0_public_key(real));
    EC_KEY_set_ex_data(ec, EcRealKeyIndex(), real);
    EVP_PKEY_assign_EC_KEY(token.get(), ec);
    return token;
}

EvpPkeyPtr KeyIn(const TestIdentity& identity, KeyForm form) {
    switch (form) {
        case KeyForm::kProvider:
            break;
        case KeyForm::kLegacy:
            return AsLegacyKey(identity);
        case KeyForm::kToken:
            return AsMethodKey(identity);
    }
    return LoadPrivateKey(identity);
}

EvpPkeyPtr LoadPrivateKey(const TestIdentity& identity) {
    BioPtr bio = FileBio(identity.key);
    return EvpPkeyPtr(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
}

X509Ptr LoadCertificate(const TestIdentity& identity) {
    BioPtr bio = FileBio(identity.cert);
    return X509Ptr(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
}

EvpPkeyPtr LoadPublicKey(const TestIdentity& identity) {
    X509Ptr cert = LoadCertificate(identity);
    return EvpPkeyPtr(X509_get_pubkey(cert.get()));
}

EvpPkeyPtr AsLegacyKey(const TestIdentity& identity) {
    EvpPkeyPtr key = LoadPrivateKey(identity);
    EvpPkeyPtr legacy(EVP_PKEY_new());
    if (EVP_PKEY_is_a(key.get(), "RSA")) {
        EVP_PKEY_assign_RSA(legacy.get(), EVP_PKEY_get1_RSA(key.get()));
        return legacy;
    }
    EC_KEY* ec = EcKeyOf(key.get());
    if (ec == nullptr) {
        throw std::runtime_error("not an EC key: " + identity.key);
    }
    EVP_PKEY_assign_EC_KEY(legacy.get(), ec);
    return legacy;
}

EvpPkeyPtr NewPlainEcKeyOnSm2Curve() {
    EvpPkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* made = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_group_name(ctx.get(), "SM2") != 1 ||
        EVP_PKEY_keygen(ctx.get(), &made) != 1) {
        throw std::runtime_error("cannot make an EC key on the SM2 curve");
    }
    return EvpPkeyPtr(made);
}

std::string PublicKeyFile(EVP_PKEY* key) {
    static std::atomic<unsigned> counter{0};
    const std::string path = Pki().dir + "/key" + std::to_string(++counter) + ".pub";
    BioPtr bio(BIO_new_file(path.c_str(), "w"));
    PEM_write_bio_PUBKEY(bio.get(), key);
    return path;
}

std::string WriteScratch(const std::string& name, ByteView bytes) {
    static std::atomic<unsigned> counter{0};
    const std::string path = Pki().dir + "/t" + std::to_string(++counter) + "-" + name;
    WriteFileText(path, AsString(bytes));
    return path;
}

Bytes ReadBytes(const std::string& path) {
    const std::string text = ReadFileText(path);
    return Bytes(text.begin(), text.end());
}

std::string PublicKeyFile(const TestIdentity& identity) {
    const std::string path = identity.cert + ".pub";
    Openssl("x509 -in " + ShellQuote(identity.cert) + " -pubkey -noout -out " + ShellQuote(path));
    return path;
}

bool Openssl(const std::string& arguments, std::string* output) {
    CommandResult result = RunShell("openssl " + arguments);
    if (output != nullptr) {
        *output = result.output;
    }
    return result.exitCode == 0;
}

Bytes Sm3(ByteView data) {
    Bytes digest(32);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sm3(), nullptr);
    return digest;
}

}  // namespace ref::test
