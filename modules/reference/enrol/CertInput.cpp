#include "enrol/CertInput.h"

#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>

#include <string>

#include "core/Outcome.h"

namespace ref {

namespace {

using Pkcs7Ptr = std::unique_ptr<PKCS7, OsslDeleter<PKCS7, PKCS7_free>>;

void TakePkcs7(PKCS7* p7, std::vector<X509Ptr>& out) {
    if (p7 == nullptr || !PKCS7_type_is_signed(p7) || p7->d.sign == nullptr)
        return;
    STACK_OF(X509)* certs = p7->d.sign->cert;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* cert = sk_X509_value(certs, i);
        X509_up_ref(cert);
        out.emplace_back(cert);
    }
}

std::vector<X509Ptr> FromPem(std::string_view text) {
    std::vector<X509Ptr> out;
    BioPtr bio = MemoryBio(AsBytes(text));
    while (X509* cert = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr))
        out.emplace_back(cert);
    TakeOpensslError();
    if (out.empty()) {
        bio = MemoryBio(AsBytes(text));
        Pkcs7Ptr p7(PEM_read_bio_PKCS7(bio.get(), nullptr, nullptr, nullptr));
        TakePkcs7(p7.get(), out);
    }
    TakeOpensslError();
    return out;
}

std::vector<X509Ptr> FromDer(const Bytes& der) {
    std::vector<X509Ptr> out;
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (cert && p == der.data() + der.size()) {
        out.push_back(std::move(cert));
        return out;
    }
    p = der.data();
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    TakePkcs7(p7.get(), out);
    TakeOpensslError();
    return out;
}

}  // namespace

std::vector<X509Ptr> ParseCertificates(std::string_view text) {
    std::vector<X509Ptr> certs;
    if (text.find("-----BEGIN") != std::string_view::npos) {
        certs = FromPem(text);
    } else if (const auto der = Base64Decode(text); der && !der->empty()) {
        certs = FromDer(*der);
    }
    if (certs.empty())
        Fail(kMalformed, "no certificate in the text: Base64 DER, PEM or PKCS#7 expected");
    return certs;
}

CertificateBundle SplitBundle(std::vector<X509Ptr> certs) {
    CertificateBundle bundle;
    if (certs.size() == 1) {
        bundle.leaf = std::move(certs.front());
        return bundle;
    }
    for (X509Ptr& cert : certs) {
        if (X509_check_ca(cert.get()) != 0) {
            bundle.cas.push_back(std::move(cert));
        } else if (bundle.leaf) {
            Fail(kBadParam, "several end-entity certificates where one was expected");
        } else {
            bundle.leaf = std::move(cert);
        }
    }
    if (!bundle.leaf)
        Fail(kBadParam, "no end-entity certificate among the certificates given");
    return bundle;
}

}  // namespace ref
