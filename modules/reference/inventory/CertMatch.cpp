#include "inventory/CertMatch.h"

#include <openssl/evp.h>

#include <algorithm>

#include "core/Outcome.h"
#include "core/Text.h"
#include "inventory/CertFacts.h"

namespace ref {
namespace {

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    return AsciiLower(text).find(AsciiLower(part)) != std::string::npos;
}

bool IsWord(std::string_view text, std::string_view word) {
    return AsciiLower(TrimBlanks(text)) == word;
}

bool UsageMatches(X509* cert, std::string_view usage) {
    if (IsWord(usage, "sign")) {
        return UsableForSigning(cert);
    }
    if (IsWord(usage, "enc")) {
        return UsableForEncryption(cert);
    }
    return false;
}

bool IsHex(std::string_view text) {
    return NormalizeSerial(text).has_value();
}

}  // namespace

bool ParseStoreFilter(int32_t t, StoreFilter& out) {
    if (t != 0 && t != 1 && t != 2 && t != 16 && t != 17 && t != 18) {
        return false;
    }
    const int32_t stores = t & 15;
    out.tokens = stores != 2;
    out.soft = stores != 1;
    out.includeExpired = (t & 16) != 0;
    return true;
}

int32_t CheckCriteria(const Criteria& criteria, std::string& message) {
    if (!criteria.serial.empty() && !IsHex(criteria.serial)) {
        message = "serial number is not hexadecimal: " + criteria.serial;
        return kBadParam;
    }
    if (!criteria.usage.empty() && !IsWord(criteria.usage, "sign") &&
        !IsWord(criteria.usage, "enc")) {
        message = "usage must be \"sign\" or \"enc\": " + criteria.usage;
        return kBadParam;
    }
    if (!criteria.algorithm.empty() && !IsWord(criteria.algorithm, "rsa") &&
        !IsWord(criteria.algorithm, "ec") && !IsWord(criteria.algorithm, "sm2")) {
        message = "algorithm must be \"RSA\", \"EC\" or \"SM2\": " + criteria.algorithm;
        return kBadParam;
    }
    if (!criteria.thumbprint.empty()) {
        const std::optional<Bytes> sha1 = HexDecode(criteria.thumbprint);
        if (!sha1 || sha1->size() != 20) {
            message = "thumbprint is not 40 hexadecimal digits: " + criteria.thumbprint;
            return kBadParam;
        }
    }
    message = "OK";
    return kOk;
}

bool SerialMatches(X509* cert, std::string_view serialText) {
    const std::optional<std::string> wanted = NormalizeSerial(serialText);
    // The sign of a (malformed) negative serial is not part of the comparison.
    std::string own = SerialText(cert);
    if (!own.empty() && own.front() == '-') {
        own.erase(0, 1);
    }
    return wanted && wanted == NormalizeSerial(own);
}

bool ThumbprintMatches(ByteView der, std::string_view sha1Hex) {
    const std::optional<Bytes> wanted = HexDecode(sha1Hex);
    return wanted && wanted->size() == 20 && *wanted == Digest(der, EVP_sha1());
}

bool LooksLikeCertificate(std::string_view sel) {
    const std::string_view text = TrimBlanks(sel);
    if (text.find("-----BEGIN") != std::string_view::npos) {
        return true;
    }
    const std::optional<Bytes> der = Base64Decode(text);
    return der && der->size() > 100 && der->front() == 0x30;
}

bool TokenMatches(const TokenInfo& token, std::string_view serialOrLabel) {
    return token.serial == serialOrLabel || token.label == serialOrLabel;
}

bool MatchesCriteria(const CertEntry& entry, const Criteria& criteria) {
    X509* cert = entry.cert.get();
    if (cert == nullptr) {
        return false;
    }
    if (!criteria.serial.empty() && !SerialMatches(cert, criteria.serial)) {
        return false;
    }
    if (!criteria.issuer.empty() &&
        !ContainsIgnoringCase(NameText(X509_get_issuer_name(cert)), criteria.issuer)) {
        return false;
    }
    if (!criteria.subject.empty() &&
        !ContainsIgnoringCase(NameText(X509_get_subject_name(cert)), criteria.subject) &&
        !ContainsIgnoringCase(CommonName(cert), criteria.subject)) {
        return false;
    }
    if (!criteria.usage.empty() && !UsageMatches(cert, criteria.usage)) {
        return false;
    }
    if (!criteria.algorithm.empty() &&
        AsciiUpper(TrimBlanks(criteria.algorithm)) != KeyAlgorithm(cert)) {
        return false;
    }
    if (!criteria.thumbprint.empty() && !ThumbprintMatches(entry.der, criteria.thumbprint)) {
        return false;
    }
    if (!criteria.token.empty() &&
        (entry.source != Source::kToken || !TokenMatches(entry.token, criteria.token))) {
        return false;
    }
    return true;
}

}  // namespace ref
