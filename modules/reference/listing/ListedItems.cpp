#include "listing/ListedItems.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>

#include <exception>

#include "store/PrivateFiles.h"

namespace ref {
namespace {

bool PastDeadline(const ListSources& sources) {
    return std::chrono::steady_clock::now() >= sources.deadline;
}

CertEntry TokenEntry(TokenCertificate& item) {
    CertEntry entry;
    entry.source = Source::kToken;
    if (X509Ptr cert = ParseCertificate(item.der)) {
        entry.der = CertificateDer(cert.get());
        entry.cert = ShareCertificate(std::move(cert));
    }
    entry.token = std::move(item.token);
    entry.keyId = std::move(item.id);
    entry.hasKey = item.keyVisible;
    return entry;
}

void AddTokenCertificates(const ListSources& sources, std::vector<CertEntry>& out) {
    std::vector<TokenCertificate> found;
    try {
        found = sources.tokens.Certificates();
    } catch (const std::exception&) {
        return;  // no module usable: as if no token were present
    }
    for (TokenCertificate& item : found) {
        CertEntry entry = TokenEntry(item);
        if (entry.cert && !entry.der.empty() && entry.hasKey) {
            out.push_back(std::move(entry));
        }
    }
}

bool FileHoldsKey(const std::string& path) {
    try {
        return PfxHoldsKey(ReadPrivateFile(path));
    } catch (const std::exception&) {
        return false;  // gone or unreadable since the store listed it
    }
}

void AddStoreCertificates(const ListSources& sources, std::vector<CertEntry>& out) {
    for (SoftIdentity& identity : sources.store.List()) {
        if (PastDeadline(sources)) {
            return;
        }
        X509Ptr cert = ParseCertificate(identity.certDer);
        if (!cert || !FileHoldsKey(identity.path)) {
            continue;
        }
        CertEntry entry;
        entry.source = Source::kSoft;
        entry.der = CertificateDer(cert.get());
        entry.cert = ShareCertificate(std::move(cert));
        entry.path = std::move(identity.path);
        entry.hasKey = true;
        if (entry.cert && !entry.der.empty()) {
            out.push_back(std::move(entry));
        }
    }
}

bool BagIsKey(const PKCS12_SAFEBAG* bag) {
    const int nid = PKCS12_SAFEBAG_get_nid(bag);
    return nid == NID_keyBag || nid == NID_pkcs8ShroudedKeyBag;
}

bool SafeHoldsKey(PKCS7* safe) {
    if (OBJ_obj2nid(safe->type) != NID_pkcs7_data) {
        return false;  // an encrypted safe cannot be looked into without the password
    }
    STACK_OF(PKCS12_SAFEBAG)* bags = PKCS12_unpack_p7data(safe);
    bool found = false;
    for (int i = 0; bags != nullptr && i < sk_PKCS12_SAFEBAG_num(bags) && !found; ++i) {
        found = BagIsKey(sk_PKCS12_SAFEBAG_value(bags, i));
    }
    sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    return found;
}

}  // namespace

bool PfxHoldsKey(ByteView pfx) {
    const unsigned char* p = pfx.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size())));
    STACK_OF(PKCS7)* safes = p12 ? PKCS12_unpack_authsafes(p12.get()) : nullptr;
    bool found = false;
    for (int i = 0; safes != nullptr && i < sk_PKCS7_num(safes) && !found; ++i) {
        found = SafeHoldsKey(sk_PKCS7_value(safes, i));
    }
    sk_PKCS7_pop_free(safes, PKCS7_free);
    ERR_clear_error();
    return found;
}

ListedItems GatherListedItems(const ListSources& sources) {
    // What bounds a read: per token, the PKCS#11 layer caps the objects
    // found and each attribute's size; store and seal files are read up to
    // their size limits. The deadline is checked between the passes and
    // between store files, so slow tokens cut the list short instead of
    // holding the caller further. A single call into a module that hangs is
    // not bounded here (see FreshList).
    ListedItems items;
    AddTokenCertificates(sources, items.certs);
    if (!PastDeadline(sources)) {
        AddStoreCertificates(sources, items.certs);
    }
    if (!PastDeadline(sources)) {
        try {
            items.seals = ListSeals(sources.tokens, sources.sealDir);
        } catch (const std::exception&) {
            items.seals.clear();  // the certificates are still worth listing
        }
    }
    ERR_clear_error();
    return items;
}

}  // namespace ref
