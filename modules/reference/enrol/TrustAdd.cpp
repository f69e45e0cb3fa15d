#include "enrol/TrustAdd.h"

#include <dirent.h>
#include <openssl/pem.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/Config.h"
#include "core/Outcome.h"
#include "enrol/EnrolControl.h"
#include "enrol/EnrolKeys.h"
#include "enrol/EnrolPrompts.h"
#include "inventory/CertFacts.h"
#include "pin/CallerText.h"
#include "store/PrivateFiles.h"

namespace ref {

namespace {

std::string FileName(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), digest, &length);
    return LowerHex(ByteView(digest, length)) + ".pem";
}

Bytes Pem(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_X509(bio.get(), cert) != 1)
        Fail(kInternal, "cannot encode the CA certificate");
    return BioBytes(bio.get());
}

// The certificates of the trust folder, whatever their files are called.
std::vector<Bytes> TrustedDers(const std::string& dir) {
    std::vector<Bytes> ders;
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder)
        return ders;
    while (const dirent* entry = readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.size() < 5 || name.compare(name.size() - 4, 4, ".pem") != 0)
            continue;
        try {
            if (X509Ptr cert = ParseCertificate(ReadPrivateFile(dir + "/" + name)))
                ders.push_back(CertificateDer(cert.get()));
        } catch (const Failure&) {
            // unreadable: it trusts nothing
        }
    }
    TakeOpensslError();
    return ders;
}

}  // namespace

void OfferTrust(EnrolControl& control, const std::vector<X509*>& cas) {
    const std::string dir = control.config.trustDir;
    const std::vector<Bytes> trusted = TrustedDers(dir);
    std::vector<X509*> fresh;
    std::vector<std::string> names;
    for (X509* ca : cas) {
        const std::string name = FileName(ca);
        const bool known =
            std::find(trusted.begin(), trusted.end(), CertificateDer(ca)) != trusted.end();
        if (!known && std::find(names.begin(), names.end(), name) == names.end()) {
            fresh.push_back(ca);
            names.push_back(name);
        }
    }
    if (fresh.empty())
        return;
    std::string description =
        Asker(control.caller) +
        " sent certification authorities with your new certificate. Trust them "
        "for checking signatures?\n";
    for (X509* ca : fresh)
        description +=
            "\n" + NameText(X509_get_subject_name(ca)) + " (serial " + SerialText(ca) + ")";
    if (!ConfirmWithUser(control, description))
        return;
    try {
        if (!EnsurePrivateDir(dir))
            return;
        for (size_t i = 0; i < fresh.size(); ++i) WritePrivateFile(dir, names[i], Pem(fresh[i]));
    } catch (const Failure&) {
        // The certificates are installed; trust stays as the user can set it by hand.
    }
}

}  // namespace ref
