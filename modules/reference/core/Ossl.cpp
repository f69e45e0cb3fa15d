#include "core/Ossl.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/provider.h>

#include <mutex>

namespace ref {

std::string TakeOpensslError() {
    const char* data = nullptr;
    int flags = 0;
    const unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags);
    std::string text;
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text = buffer;
        // The data text is where a cause of our own (a token's answer) is kept.
        if (data != nullptr && (flags & ERR_TXT_STRING) != 0 && *data != '\0') {
            text += ": ";
            text += data;
        }
    }
    ERR_clear_error();
    return text;
}

BioPtr MemoryBio(ByteView bytes) {
    return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

Bytes BioBytes(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    if (length <= 0 || data == nullptr) {
        return {};
    }
    return Bytes(reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + length);
}

Bytes CertificateDer(X509* cert) {
    unsigned char* der = nullptr;
    const int length = i2d_X509(cert, &der);
    if (length <= 0) {
        return {};
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

X509Ptr ParseCertificate(ByteView derOrPem) {
    if (derOrPem.empty()) {
        return nullptr;
    }
    const unsigned char* p = derOrPem.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(derOrPem.size())));
    // Trailing bytes after the certificate mean it is not one certificate.
    if (cert && p != derOrPem.data() + derOrPem.size()) {
        cert.reset();
    }
    if (!cert) {
        BioPtr bio = MemoryBio(derOrPem);
        cert.reset(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    }
    ERR_clear_error();
    return cert;
}

namespace {

// Held for the life of the process, never unloaded: token modules in the
// same process use OpenSSL too.
OSSL_PROVIDER* legacyProvider = nullptr;
OSSL_PROVIDER* defaultProvider = nullptr;

}  // namespace

void LoadProviders() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Loading legacy makes the default provider implicit no more, so both.
        legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        ERR_clear_error();
    });
}

}  // namespace ref
