#include "inventory/Inventory.h"

#include <openssl/err.h>

#include <algorithm>
#include <exception>

#include "inventory/CertFacts.h"
#include "inventory/CertMatch.h"

namespace ref {
namespace {

bool FillCertificate(CertEntry& entry, ByteView der) {
    X509Ptr cert = ParseCertificate(der);
    if (!cert) {
        return false;
    }
    entry.der = CertificateDer(cert.get());
    entry.cert = ShareCertificate(std::move(cert));
    return entry.cert != nullptr && !entry.der.empty();
}

struct Ranked {
    const CertEntry* entry;
    bool valid;
};

// a before b: a key before none, valid now before not, later notBefore first.
bool Better(const Ranked& a, const Ranked& b) {
    if (a.entry->hasKey != b.entry->hasKey) {
        return a.entry->hasKey;
    }
    if (a.valid != b.valid) {
        return a.valid;
    }
    return ASN1_TIME_compare(X509_get0_notBefore(a.entry->cert.get()),
                             X509_get0_notBefore(b.entry->cert.get())) > 0;
}

}  // namespace

std::vector<CertEntry> Inventory::Scan(const StoreFilter& filter) {
    std::vector<CertEntry> out;
    if (filter.tokens) {
        std::vector<TokenCertificate> found;
        try {
            found = tokens_.Certificates();
        } catch (const std::exception&) {
            found.clear();  // a module that fails is as good as no token at all
        }
        for (TokenCertificate& item : found) {
            CertEntry entry;
            entry.source = Source::kToken;
            if (!FillCertificate(entry, item.der)) {
                continue;
            }
            entry.token = std::move(item.token);
            entry.keyId = std::move(item.id);
            entry.hasKey = item.keyVisible;
            out.push_back(std::move(entry));
        }
    }
    if (filter.soft) {
        for (SoftIdentity& identity : store_.List()) {
            CertEntry entry;
            entry.source = Source::kSoft;
            if (!FillCertificate(entry, identity.certDer)) {
                continue;
            }
            entry.path = std::move(identity.path);
            entry.hasKey = true;  // a store file always holds its key
            out.push_back(std::move(entry));
        }
    }
    if (!filter.includeExpired) {
        std::erase_if(out, [](const CertEntry& entry) { return !ValidNow(entry.cert.get()); });
    }
    ERR_clear_error();
    return out;
}

std::vector<CertEntry> RankMatches(std::vector<CertEntry> entries, const Criteria& criteria,
                                   bool requireKey) {
    std::vector<Ranked> ranked;
    for (const CertEntry& entry : entries) {
        if ((!requireKey || entry.hasKey) && MatchesCriteria(entry, criteria)) {
            ranked.push_back({&entry, ValidNow(entry.cert.get())});
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(), Better);
    std::vector<CertEntry> out;
    out.reserve(ranked.size());
    for (const Ranked& r : ranked) {
        out.push_back(*r.entry);
    }
    ERR_clear_error();
    return out;
}

std::vector<CertEntry> Inventory::Match(const StoreFilter& filter, const Criteria& criteria) {
    return RankMatches(Scan(filter), criteria, true);
}

}  // namespace ref
