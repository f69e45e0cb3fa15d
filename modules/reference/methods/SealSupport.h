#pragma once
// What the seal and licence methods share: finding seals where a page
// points, choosing among records, and the consent for writes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/MainControl.h"
#include "control/MethodArgs.h"
#include "inventory/CertEntry.h"
#include "seals/SealStore.h"

namespace ref {

// A seal or licence name: any text but the empty one (kBadParam).
std::string NameParam(const MethodArgs& args, uint32_t index);

// Base64 seal or licence data: kBadParam when empty or larger than 8 MiB,
// kMalformed when not Base64.
Bytes DataParam(const MethodArgs& args, uint32_t index);

// The seals of the tokens tokenSel names (serial or label, "" any token),
// read without logging in. kNoToken when no such token is present, or it
// is pulled while being read.
std::vector<StoredSeal> TokenSealsOf(MainControl& control, const std::string& tokenSel);

// The seals of every token and the seal folder.
std::vector<StoredSeal> AllSeals(MainControl& control);

// The record of that name (and type, when given; else a picture before
// other types), first where it is found. kNotFound when there is none.
const StoredSeal& PickSeal(const std::vector<StoredSeal>& seals, const std::string& name,
                           std::optional<int32_t> type = std::nullopt);

// The certificate writes go to: the one the selection chooses (kNotFound
// when none is chosen).
CertEntry SealOwner(MainControl& control);

// Logs a session on owner's token in, asking the user with a prompt that
// names the operation, the certificate and the token.
TokenLogin PromptingLogin(MainControl& control, const CertEntry& owner,
                          const std::string& operation);

}  // namespace ref
