#include "listing/CertSealList.h"

#include <openssl/evp.h>

#include <nlohmann/json.hpp>

#include "inventory/CertFacts.h"
#include "inventory/Pkcs11Uri.h"
#include "listing/ListedItems.h"

namespace ref {
namespace {

// Ordered: the fields come out in the order written here.
using json = nlohmann::ordered_json;

json UsageList(X509* cert) {
    json usage = json::array();
    const std::string text = KeyUsageText(cert);
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        usage.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return usage;
}

json CertJson(const CertEntry& entry, ListForm form) {
    X509* cert = entry.cert.get();
    const bool onToken = entry.source == Source::kToken;
    const std::string sha1 = HexEncode(Digest(entry.der, EVP_sha1()));
    json out = {
        // A selector the methods' certificate parameters accept.
        {"id", onToken ? MakePkcs11Uri(entry.token, entry.keyId) : sha1},
        {"store", onToken ? "pkcs11" : "soft"},
        {"token", {{"label", entry.token.label}, {"serial", entry.token.serial}}},
        {"sn", SerialText(cert)},
        {"subject", NameText(X509_get_subject_name(cert))},
        {"issuer", NameText(X509_get_issuer_name(cert))},
        {"cn", CommonName(cert)},
        {"notBefore", TimeText(X509_get0_notBefore(cert))},
        {"notAfter", TimeText(X509_get0_notAfter(cert))},
        {"key", KeyAlgorithm(cert)},
        {"bits", KeyBits(cert)},
        {"usage", UsageList(cert)},
        {"sha1", sha1},
    };
    if (form == ListForm::kFull) {
        out["cert"] = Base64Encode(entry.der);
    }
    return out;
}

json SealJson(const StoredSeal& seal) {
    const bool onToken = seal.store == "pkcs11";
    return {
        {"name", seal.record.name},
        {"store", seal.store},
        {"token", onToken ? seal.token.serial : std::string()},
        {"type", seal.record.type},
        {"format", seal.record.format},
        {"certSn", seal.record.certSn},
        {"size", seal.record.data.size()},
    };
}

}  // namespace

std::string BuildCertSealList(const ListSources& sources, ListForm form) {
    const ListedItems items = GatherListedItems(sources);
    if (items.certs.empty() && items.seals.empty()) {
        return {};
    }
    json certs = json::array();
    for (const CertEntry& entry : items.certs) {
        certs.push_back(CertJson(entry, form));
    }
    json seals = json::array();
    for (const StoredSeal& seal : items.seals) {
        seals.push_back(SealJson(seal));
    }
    const json list = {{"v", 1}, {"certs", std::move(certs)}, {"seals", std::move(seals)}};
    // ensure_ascii: \uXXXX (surrogate pairs beyond U+FFFF) for all that is
    // not ASCII; bytes that are not UTF-8 (a token's label) become U+FFFD.
    return list.dump(-1, ' ', true, json::error_handler_t::replace);
}

}  // namespace ref
