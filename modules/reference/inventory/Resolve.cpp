// Turning a certificate parameter of a method into one held certificate.

#include <openssl/err.h>

#include <algorithm>
#include <exception>
#include <map>

#include "core/Outcome.h"
#include "core/Text.h"
#include "inventory/CertFacts.h"
#include "inventory/CertMatch.h"
#include "inventory/Inventory.h"
#include "inventory/Pkcs11Uri.h"

namespace ref {
namespace {

enum class SelForm { kChosen, kCertificate, kThumbprintOrSerial, kSerial, kUri, kInvalid };

SelForm FormOf(std::string_view sel) {
    if (sel.empty()) {
        return SelForm::kChosen;
    }
    if (IsPkcs11Uri(sel)) {
        return SelForm::kUri;
    }
    if (LooksLikeCertificate(sel)) {
        return SelForm::kCertificate;
    }
    if (!NormalizeSerial(sel)) {
        return SelForm::kInvalid;
    }
    const size_t digits = std::count_if(sel.begin(), sel.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
    return digits == 40 ? SelForm::kThumbprintOrSerial : SelForm::kSerial;
}

std::string Shown(std::string_view sel) {
    constexpr size_t kLongest = 80;  // a page may pass anything, however long
    return sel.size() <= kLongest ? std::string(sel) : std::string(sel.substr(0, kLongest)) + "...";
}

X509Ptr ParseGivenCertificate(std::string_view sel) {
    X509Ptr cert;
    if (sel.find("-----BEGIN") != std::string_view::npos) {
        cert = ParseCertificate(AsBytes(sel));
    } else if (std::optional<Bytes> der = Base64Decode(sel)) {
        cert = ParseCertificate(*der);
    }
    ERR_clear_error();
    if (!cert) {
        Fail(kMalformed, "the certificate cannot be parsed");
    }
    return cert;
}

using Candidates = std::vector<const CertEntry*>;

template <typename Pred>
Candidates Select(const std::vector<CertEntry>& entries, Pred pred) {
    Candidates out;
    for (const CertEntry& entry : entries) {
        if (pred(entry)) {
            out.push_back(&entry);
        }
    }
    return out;
}

bool SameAttribute(const std::map<std::string, std::string>& uri, const char* name,
                   const std::string& value) {
    const auto it = uri.find(name);
    return it == uri.end() || it->second == value;
}

// The token attributes of a URI, as far as it gives them.
bool UriNamesToken(const std::map<std::string, std::string>& uri, const TokenInfo& token) {
    return SameAttribute(uri, "token", token.label) && SameAttribute(uri, "serial", token.serial) &&
           SameAttribute(uri, "model", token.model) &&
           SameAttribute(uri, "manufacturer", token.manufacturer);
}

bool UriGivesToken(const std::map<std::string, std::string>& uri) {
    return uri.count("token") != 0 || uri.count("serial") != 0;
}

// Several entries may hold one certificate (on a token and in the store);
// two different certificates mean the parameter does not say which.
void RefuseAmbiguous(const Candidates& found, std::string_view sel) {
    for (const CertEntry* entry : found) {
        if (entry->der != found.front()->der) {
            Fail(kNotFound, "certificate parameter " + Shown(sel) +
                                " is ambiguous: it matches several certificates");
        }
    }
}

std::vector<TokenInfo> PresentTokens(Pkcs11Registry& tokens) {
    try {
        return tokens.Tokens();
    } catch (const std::exception&) {
        return {};
    }
}

[[noreturn]] void NothingChosen(Pkcs11Registry& tokens, const StoreFilter& filter,
                                const Criteria& criteria) {
    if (!criteria.token.empty() && filter.tokens) {
        const std::vector<TokenInfo> present = PresentTokens(tokens);
        if (std::none_of(present.begin(), present.end(),
                         [&](const TokenInfo& t) { return TokenMatches(t, criteria.token); })) {
            Fail(kNoToken, "token " + criteria.token + " is not present");
        }
    }
    Fail(kNotFound, "no certificate matches the chosen criteria");
}

// The entries that sel (neither empty nor a certificate) names.
Candidates Named(const std::vector<CertEntry>& entries, std::string_view sel, SelForm form,
                 Pkcs11Registry& tokens) {
    switch (form) {
        case SelForm::kThumbprintOrSerial: {
            Candidates byThumbprint =
                Select(entries, [&](const CertEntry& e) { return ThumbprintMatches(e.der, sel); });
            if (!byThumbprint.empty()) {
                return byThumbprint;
            }
            [[fallthrough]];
        }
        case SelForm::kSerial:
            return Select(entries,
                          [&](const CertEntry& e) { return SerialMatches(e.cert.get(), sel); });
        case SelForm::kUri: {
            const auto uri = ParsePkcs11Uri(sel);
            if (!uri || uri->count("id") == 0 || uri->at("id").empty()) {
                Fail(kBadParam, "PKCS#11 URI malformed or without an id: " + Shown(sel));
            }
            const Bytes id(uri->at("id").begin(), uri->at("id").end());
            Candidates found = Select(entries, [&](const CertEntry& e) {
                return e.source == Source::kToken && e.keyId == id && UriNamesToken(*uri, e.token);
            });
            if (found.empty() && UriGivesToken(*uri)) {
                const std::vector<TokenInfo> present = PresentTokens(tokens);
                if (std::none_of(present.begin(), present.end(),
                                 [&](const TokenInfo& t) { return UriNamesToken(*uri, t); })) {
                    Fail(kNoToken, "the token the URI names is not present");
                }
            }
            return found;
        }
        default:
            return {};
    }
}

// A held certificate that sel names; entries are those of the filter.
Candidates Find(const std::vector<CertEntry>& entries, std::string_view sel, SelForm form,
                Pkcs11Registry& tokens) {
    Candidates found;
    if (form == SelForm::kCertificate) {
        const Bytes der = CertificateDer(ParseGivenCertificate(sel).get());
        found = Select(entries, [&](const CertEntry& e) { return e.der == der; });
    } else {
        found = Named(entries, sel, form, tokens);
    }
    if (found.empty()) {
        Fail(kNotFound, "no certificate held matches " + Shown(sel));
    }
    RefuseAmbiguous(found, sel);
    return found;
}

[[noreturn]] void NotACertificateParameter(std::string_view sel) {
    Fail(kBadParam,
         "certificate parameter is neither a serial number, a thumbprint, a PKCS#11 "
         "URI nor a certificate: " +
             Shown(sel));
}

}  // namespace

CertEntry Inventory::ResolveSigner(const StoreFilter& filter, const Criteria& criteria,
                                   std::string_view sel) {
    sel = TrimBlanks(sel);
    const SelForm form = FormOf(sel);
    if (form == SelForm::kInvalid) {
        NotACertificateParameter(sel);
    }
    const std::vector<CertEntry> entries = Scan(filter);
    if (form == SelForm::kChosen) {
        std::vector<CertEntry> ranked = RankMatches(entries, criteria, true);
        if (ranked.empty()) {
            NothingChosen(tokens_, filter, criteria);
        }
        return std::move(ranked.front());
    }
    const Candidates found = Find(entries, sel, form, tokens_);
    for (const CertEntry* entry : found) {
        if (entry->hasKey) {
            return *entry;
        }
    }
    Fail(kNoKey, "no private key goes with certificate " + SerialText(found.front()->cert.get()));
}

X509Shared Inventory::ResolveCertificate(const StoreFilter& filter, const Criteria& criteria,
                                         std::string_view sel) {
    sel = TrimBlanks(sel);
    const SelForm form = FormOf(sel);
    if (form == SelForm::kCertificate) {
        return ShareCertificate(ParseGivenCertificate(sel));
    }
    if (form == SelForm::kInvalid) {
        NotACertificateParameter(sel);
    }
    // Whether a certificate is still valid is for the verification to say.
    StoreFilter any = filter;
    any.includeExpired = true;
    const std::vector<CertEntry> entries = Scan(any);
    if (form == SelForm::kChosen) {
        std::vector<CertEntry> ranked = RankMatches(entries, criteria, false);
        if (ranked.empty()) {
            NothingChosen(tokens_, any, criteria);
        }
        return ranked.front().cert;
    }
    return Find(entries, sel, form, tokens_).front()->cert;
}

}  // namespace ref
