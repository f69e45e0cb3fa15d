#pragma once
// What the list shows, gathered from the tokens, the store and the seal
// folder without logging in.

#include <vector>

#include "inventory/CertEntry.h"
#include "listing/CertSealList.h"
#include "seals/SealStore.h"

namespace ref {

struct ListedItems {
    std::vector<CertEntry> certs;  // only those whose private key is present
    std::vector<StoredSeal> seals;
};

// A source that fails (a module, an unreadable file) adds nothing and hides
// none of the others.
ListedItems GatherListedItems(const ListSources& sources);

// Whether PKCS#12 bytes hold a private key in a bag readable without the
// password (a shrouded key bag counts: only its content is encrypted).
bool PfxHoldsKey(ByteView pfx);

}  // namespace ref
