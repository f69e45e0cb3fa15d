#pragma once
// Whether one held certificate fits the criteria of SetCert/SetCertEx.

#include <string_view>
#include <vector>

#include "inventory/CertEntry.h"
#include "inventory/Inventory.h"

namespace ref {

// Every non-empty field of criteria must fit; the private key is not asked
// about here. Criteria are expected to have passed CheckCriteria.
bool MatchesCriteria(const CertEntry& entry, const Criteria& criteria);

// The token criterion: the token's serial or label, exactly.
bool TokenMatches(const TokenInfo& token, std::string_view serialOrLabel);

}  // namespace ref

namespace ref {

// The entries that fit the criteria (with a private key when requireKey),
// best first: with a key before without, valid now before not, then the
// latest notBefore.
std::vector<CertEntry> RankMatches(std::vector<CertEntry> entries, const Criteria& criteria,
                                   bool requireKey);

}  // namespace ref
