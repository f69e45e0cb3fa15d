#pragma once
// OpenSSL objects owned by unique_ptr, and the error queue as text.

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "core/Bytes.h"

namespace ref {

template <typename T, void (*Free)(T*)>
struct OsslDeleter {
    void operator()(T* p) const noexcept { Free(p); }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OsslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using EvpPkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OsslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OsslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, OsslDeleter<X509, X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, OsslDeleter<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr =
    std::unique_ptr<X509_STORE_CTX, OsslDeleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using BioPtr = std::unique_ptr<BIO, OsslDeleter<BIO, BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, OsslDeleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OsslDeleter<PKCS12, PKCS12_free>>;

inline void FreeX509Stack(STACK_OF(X509) * stack) {
    sk_X509_pop_free(stack, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OsslDeleter<STACK_OF(X509), FreeX509Stack>>;

// The oldest error on OpenSSL's queue as one line ("" when none); clears it.
std::string TakeOpensslError();

// A read-only memory BIO over bytes that outlive it.
BioPtr MemoryBio(ByteView bytes);

// Everything written to a memory BIO.
Bytes BioBytes(BIO* bio);

// DER of a certificate; parse of DER or PEM (nullptr when neither).
Bytes CertificateDer(X509* cert);
X509Ptr ParseCertificate(ByteView derOrPem);

// Loads the default and legacy providers once per process, so that PKCS#12
// files of older tools (RC2) and single DES can be read.
void LoadProviders();

}  // namespace ref
