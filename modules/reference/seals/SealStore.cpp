// Where seals lie: every token and the seal folder.
#include "seals/SealStore.h"

#include <openssl/x509.h>

#include <algorithm>

#include "core/Outcome.h"
#include "inventory/CertFacts.h"
#include "inventory/Inventory.h"
#include "seals/SealFiles.h"
#include "seals/SealLimits.h"
#include "seals/TokenSeals.h"

namespace ref {

namespace {

bool SameToken(const TokenInfo& a, const TokenInfo& b) {
    return a.module == b.module && a.serial == b.serial && a.label == b.label;
}

// Tokens that refuse CKA_ID on data objects: the key pair is the one of the
// bound certificate on the same token.
void FillKeyIds(Pkcs11Registry& tokens, std::vector<StoredSeal>& seals) {
    const bool missing = std::any_of(seals.begin(), seals.end(), [](const StoredSeal& seal) {
        return seal.keyId.empty() && !seal.record.certSn.empty();
    });
    if (!missing)
        return;
    for (const TokenCertificate& cert : tokens.Certificates()) {
        const unsigned char* p = cert.der.data();
        X509Ptr x509(d2i_X509(nullptr, &p, static_cast<long>(cert.der.size())));
        if (!x509)
            continue;
        for (StoredSeal& seal : seals) {
            if (seal.keyId.empty() && !seal.record.certSn.empty() &&
                SameToken(seal.token, cert.token) &&
                SerialMatches(x509.get(), seal.record.certSn)) {
                seal.keyId = cert.id;
            }
        }
    }
}

}  // namespace

std::vector<StoredSeal> ListSeals(Pkcs11Registry& tokens, const std::string& sealDir) {
    std::vector<StoredSeal> seals;
    std::vector<TokenInfo> present;
    try {
        present = tokens.Tokens();
    } catch (const std::exception&) {
        // No module usable: the folder's seals are still there.
    }
    for (const TokenInfo& token : present) {
        try {
            std::unique_ptr<TokenSession> session = tokens.Open(token);
            for (StoredSeal& seal : TokenSeals(*session)) seals.push_back(std::move(seal));
        } catch (const Failure&) {
            // A token pulled or failing meanwhile has no seals to show.
        }
    }
    try {
        FillKeyIds(tokens, seals);
    } catch (const Failure&) {
        // The records are whole without it.
    }
    for (SealRecord& record : FolderSeals(sealDir))
        seals.push_back({std::move(record), "soft", {}, {}});
    return seals;
}

void WriteSeal(Pkcs11Registry& tokens, const std::string& sealDir, const CertEntry& boundTo,
               SealRecord record, const TokenLogin& login) {
    if (record.name.empty())
        Fail(kBadParam, "a seal needs a name");
    if (record.type < 1)
        Fail(kBadParam, "seal types are whole numbers from 1");
    if (record.data.empty())
        Fail(kBadParam, "the seal \"" + record.name + "\" has no data");
    if (record.data.size() > kMaxSealData)
        Fail(kBadParam, "the seal \"" + record.name + "\" is larger than 8 MiB");
    record.certSn = SerialText(boundTo.cert.get());
    if (boundTo.source == Source::kSoft) {
        PutFolderSeal(sealDir, record);
        return;
    }
    std::unique_ptr<TokenSession> session =
        tokens.Open(boundTo.token, Pkcs11Registry::Access::kReadWrite);
    login(*session);
    PutTokenSeal(*session, record, boundTo.keyId);
}

}  // namespace ref
