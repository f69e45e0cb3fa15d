#include "inventory/CertEntry.h"

namespace ref {

X509Shared ShareCertificate(X509Ptr cert) {
    return X509Shared(cert.release(), X509_free);
}

X509Shared ShareCertificate(X509* cert) {
    if (cert == nullptr || X509_up_ref(cert) != 1) {
        return nullptr;
    }
    return X509Shared(cert, X509_free);
}

}  // namespace ref
