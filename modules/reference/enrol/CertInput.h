#pragma once
// Certificates as a CA hands them out: Base64 DER, PEM (one or several),
// or a certs-only PKCS#7 (Base64 DER or PEM).

#include <string_view>
#include <vector>

#include "core/Ossl.h"

namespace ref {

// Throws Failure(kMalformed) when the text holds no certificate.
std::vector<X509Ptr> ParseCertificates(std::string_view text);

// The end-entity certificate among them (a lone certificate is one, CA or
// not), and the CA certificates that came with it. Throws kBadParam when
// there is no single end-entity certificate.
struct CertificateBundle {
    X509Ptr leaf;
    std::vector<X509Ptr> cas;
};
CertificateBundle SplitBundle(std::vector<X509Ptr> certs);

}  // namespace ref
