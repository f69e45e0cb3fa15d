#include "crypto/Trust.h"

#include <openssl/x509_vfy.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "core/Outcome.h"
#include "crypto/Algorithms.h"
#include "crypto/CryptoFailure.h"

namespace ref {

namespace {

// Within notBefore..notAfter now: kOk, kExpired, or kMalformed when the
// dates cannot be read.
int32_t CheckValidity(X509* cert, std::string& message) {
    const int notBefore = X509_cmp_current_time(X509_get0_notBefore(cert));
    const int notAfter = X509_cmp_current_time(X509_get0_notAfter(cert));
    if (notBefore == 0 || notAfter == 0) {
        message = "the certificate's validity dates cannot be read";
        return kMalformed;
    }
    if (notBefore > 0) {
        message = "the certificate is not yet valid";
        return kExpired;
    }
    if (notAfter < 0) {
        message = "the certificate has expired";
        return kExpired;
    }
    message = "OK";
    return kOk;
}

// SM2 anchors and intermediates get the GM id so that what they signed and
// what signed them verifies with the right Z.
void SetSm2Ids(X509_STORE* store) {
    STACK_OF(X509_OBJECT)* objects = X509_STORE_get0_objects(store);
    for (int i = 0; i < sk_X509_OBJECT_num(objects); ++i) {
        SetSm2CertificateId(X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objects, i)));
    }
}

}  // namespace

TrustStore::TrustStore(const Config& config) : config_(config) {}

X509_STORE* TrustStore::store() {
    if (!store_) {
        Reload();
    }
    return store_.get();
}

void TrustStore::Reload() {
    X509StorePtr store(X509_STORE_new());
    if (!store) {
        FailOpenssl(kInternal, "cannot make a certificate store");
    }
    std::error_code error;
    if (!config_.systemTrustFile.empty() &&
        std::filesystem::is_regular_file(config_.systemTrustFile, error)) {
        X509_STORE_load_file(store.get(), config_.systemTrustFile.c_str());
    }
    // Sorted, so that the same folder always loads the same way.
    std::vector<std::filesystem::path> files;
    if (!config_.trustDir.empty()) {
        for (const auto& entry : std::filesystem::directory_iterator(config_.trustDir, error)) {
            if (entry.path().extension() == ".pem" && entry.is_regular_file(error)) {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        // A broken file must not hide the others.
        X509_STORE_load_file(store.get(), file.c_str());
    }
    TakeOpensslError();
    SetSm2Ids(store.get());
    store_ = std::move(store);
}

int32_t TrustStore::Check(X509* cert, STACK_OF(X509) * untrusted, bool checkChain,
                          std::string& message) {
    if (cert == nullptr) {
        message = "no certificate";
        return kBadParam;
    }
    SetSm2CertificateId(cert);
    // The leaf's own period first: an expired signer is expired, whoever issued it.
    const int32_t validity = CheckValidity(cert, message);
    if (validity != kOk || !checkChain) {
        return validity;
    }
    for (int i = 0; i < sk_X509_num(untrusted); ++i) {
        SetSm2CertificateId(sk_X509_value(untrusted, i));
    }
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store(), cert, untrusted) != 1) {
        FailOpenssl(kInternal, "cannot start the chain check");
    }
    // Only a path to a real anchor counts, never a trusted intermediate alone.
    X509_VERIFY_PARAM_clear_flags(X509_STORE_CTX_get0_param(ctx.get()), X509_V_FLAG_PARTIAL_CHAIN);
    const int verified = X509_verify_cert(ctx.get());
    TakeOpensslError();
    if (verified == 1) {
        message = "OK";
        return kOk;
    }
    const int error = X509_STORE_CTX_get_error(ctx.get());
    message = std::string("certificate chain: ") + X509_verify_cert_error_string(error);
    switch (error) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return kExpired;
        default:
            return kUntrusted;
    }
}

}  // namespace ref
