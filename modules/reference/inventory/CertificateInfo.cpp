#include "inventory/CertificateInfo.h"

#include <openssl/evp.h>

#include <cstdio>

#include "core/Outcome.h"
#include "inventory/CertFacts.h"
#include "inventory/Pkcs11Uri.h"

namespace ref {
namespace {

struct Subject {
    X509* cert;
    Bytes der;
    const TokenInfo* token;  // null: not on a token
    ByteView keyId;
};

using ItemFn = std::string (*)(const Subject&);

struct Item {
    int32_t number;
    const char* jsonName;
    ItemFn text;
    bool jsonNumber;
};

std::string DerBase64(const Subject& s) {
    return Base64Encode(s.der);
}
std::string Serial(const Subject& s) {
    return SerialText(s.cert);
}
std::string SubjectDn(const Subject& s) {
    return NameText(X509_get_subject_name(s.cert));
}
std::string IssuerDn(const Subject& s) {
    return NameText(X509_get_issuer_name(s.cert));
}
std::string NotBefore(const Subject& s) {
    return TimeText(X509_get0_notBefore(s.cert));
}
std::string NotAfter(const Subject& s) {
    return TimeText(X509_get0_notAfter(s.cert));
}
std::string Cn(const Subject& s) {
    return CommonName(s.cert);
}
std::string Algorithm(const Subject& s) {
    return KeyAlgorithm(s.cert);
}
std::string Bits(const Subject& s) {
    return std::to_string(KeyBits(s.cert));
}
std::string Usage(const Subject& s) {
    return KeyUsageText(s.cert);
}
std::string Sha1(const Subject& s) {
    return HexEncode(Digest(s.der, EVP_sha1()));
}
std::string Sha256(const Subject& s) {
    return HexEncode(Digest(s.der, EVP_sha256()));
}
std::string SigAlgorithm(const Subject& s) {
    return SignatureAlgorithm(s.cert);
}
std::string TokenSerial(const Subject& s) {
    return s.token ? s.token->serial : std::string();
}
std::string Uri(const Subject& s) {
    return s.token ? MakePkcs11Uri(*s.token, s.keyId) : "";
}

constexpr Item kItems[] = {
    {1, "cert", DerBase64, false},
    {2, "sn", Serial, false},
    {3, "subject", SubjectDn, false},
    {4, "issuer", IssuerDn, false},
    {5, "notBefore", NotBefore, false},
    {6, "notAfter", NotAfter, false},
    {7, "cn", Cn, false},
    {8, "keyAlgorithm", Algorithm, false},
    {9, "keyBits", Bits, true},
    {10, "keyUsage", Usage, false},
    {11, "sha1", Sha1, false},
    {12, "sha256", Sha256, false},
    {13, "signatureAlgorithm", SigAlgorithm, false},
    {14, "tokenSerial", TokenSerial, false},
    {15, "uri", Uri, false},
};
constexpr int32_t kJsonItem = 16;

std::string Json(const Subject& s) {
    std::string out = "{";
    for (const Item& item : kItems) {
        if (out.size() > 1)
            out += ',';
        out += JsonQuote(item.jsonName);
        out += ':';
        out += item.jsonNumber ? item.text(s) : JsonQuote(item.text(s));
    }
    return out + "}";
}

std::string Answer(const Subject& s, int32_t number) {
    if (number == kJsonItem) {
        return Json(s);
    }
    for (const Item& item : kItems) {
        if (item.number == number) {
            return item.text(s);
        }
    }
    Fail(kBadParam, "no certificate information item " + std::to_string(number));
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

std::string CertificateInfoItem(const CertEntry& entry, int32_t item) {
    if (!entry.cert) {
        Fail(kNotFound, "no certificate");
    }
    const bool onToken = entry.source == Source::kToken;
    const Subject s{entry.cert.get(),
                    entry.der.empty() ? CertificateDer(entry.cert.get()) : entry.der,
                    onToken ? &entry.token : nullptr, entry.keyId};
    return Answer(s, item);
}

std::string CertificateInfoItem(X509* cert, int32_t item) {
    if (cert == nullptr) {
        Fail(kNotFound, "no certificate");
    }
    return Answer(Subject{cert, CertificateDer(cert), nullptr, {}}, item);
}

}  // namespace ref
