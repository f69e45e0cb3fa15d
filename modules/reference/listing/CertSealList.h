#pragma once
// The list of usable certificates and of public seals that the list
// library and GetUselist answer with: JSON, every character outside ASCII
// written as \uXXXX, so that a reader converting from any locale's
// character set gets the text back unchanged.
//
// {"v":1,"certs":[{"id":…,"store":"pkcs11"|"soft","token":{"label":…,"serial":…},
//   "sn":…,"subject":…,"issuer":…,"cn":…,"notBefore":…,"notAfter":…,"key":…,
//   "bits":…,"usage":[…],"sha1":…,"cert":<Base64 DER, full form only>}],
//  "seals":[{"name":…,"store":…,"token":<serial>,"type":…,"format":…,"certSn":…,"size":…}]}

#include <chrono>
#include <string>

#include "pkcs11/Pkcs11Registry.h"
#include "store/SoftStore.h"

namespace ref {

enum class ListForm {
    kFull,     // with each certificate's DER ("cert")
    kCompact,  // without it
};

struct ListSources {
    Pkcs11Registry& tokens;
    const SoftStore& store;
    std::string sealDir;
    // Past this point no further source is read; what was found is listed.
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
};

// Certificates with their private key present (on a token: visible without
// login; in the store: the file holds a key), tokens first, then the public
// seal records. "" when there is neither a certificate nor a seal. Never
// logs in and never asks the user.
std::string BuildCertSealList(const ListSources& sources, ListForm form);

}  // namespace ref
