#include "enrol/CertRequest.h"

#include <openssl/x509v3.h>

#include <string>
#include <vector>

#include "core/Outcome.h"
#include "crypto/Algorithms.h"
#include "crypto/Sm2Key.h"

namespace ref {

namespace {

using X509ReqPtr = std::unique_ptr<X509_REQ, OsslDeleter<X509_REQ, X509_REQ_free>>;

struct Attribute {
    std::string type;
    std::string value;
    bool joined = false;  // '+' before it: same RDN as the one before
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

[[noreturn]] void BadName(const std::string& why) {
    Fail(kBadParam, "the subject is not an RFC 4514 name: " + why);
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::vector<Attribute> Split(std::string_view text) {
    std::vector<Attribute> out;
    Attribute current;
    std::string* field = &current.type;
    size_t keptBlanks = 0;  // escaped trailing blanks survive trimming
    auto finish = [&](bool nextJoined) {
        std::string value = current.value;
        const size_t lead = value.find_first_not_of(' ');
        value = lead == std::string::npos ? "" : value.substr(lead);
        while (value.size() > keptBlanks && !value.empty() && value.back() == ' ') value.pop_back();
        current.type = Trim(current.type);
        current.value = value;
        if (current.type.empty() || field != &current.value)
            BadName("an attribute lacks its type or '='");
        out.push_back(current);
        current = Attribute{};
        current.joined = nextJoined;
        field = &current.type;
        keptBlanks = 0;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (i + 1 >= text.size())
                BadName("a '\\' ends it");
            const int hi = HexDigit(text[i + 1]);
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                field->push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
            } else {
                field->push_back(text[++i]);
            }
            keptBlanks = field->back() == ' ' ? keptBlanks + 1 : 0;
        } else if (c == '=' && field == &current.type) {
            field = &current.value;
        } else if ((c == ',' || c == '+') && field == &current.value) {
            finish(c == '+');
        } else {
            if (c == '#' && field == &current.value && Trim(*field).empty())
                BadName("hex-encoded values are not accepted");
            field->push_back(c);
            keptBlanks = c == ' ' ? keptBlanks : 0;
        }
    }
    finish(false);
    return out;
}

int RequestUsage(EVP_PKEY* key, KeyRole role) {
    if (role == KeyRole::kSign)
        return KU_DIGITAL_SIGNATURE | KU_NON_REPUDIATION;
    return KindOf(key) == KeyKind::kEc ? KU_KEY_AGREEMENT : KU_KEY_ENCIPHERMENT;
}

void AddKeyUsage(X509_REQ* req, int bits) {
    ASN1_BIT_STRING* usage = ASN1_BIT_STRING_new();
    STACK_OF(X509_EXTENSION)* extensions = sk_X509_EXTENSION_new_null();
    bool done = usage != nullptr && extensions != nullptr;
    for (int bit = 0; done && bit < 9; ++bit) {
        // KU_* puts bit 0 in 0x80, bit 8 (decipherOnly) in 0x8000.
        const int mask = bit < 8 ? 0x80 >> bit : 0x8000;
        if ((bits & mask) != 0)
            done = ASN1_BIT_STRING_set_bit(usage, bit, 1) == 1;
    }
    X509_EXTENSION* ext = done ? X509V3_EXT_i2d(NID_key_usage, 1, usage) : nullptr;  // critical
    done = ext != nullptr && sk_X509_EXTENSION_push(extensions, ext) > 0;
    if (!done)
        X509_EXTENSION_free(ext);
    done = done && X509_REQ_add_extensions(req, extensions) == 1;
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    ASN1_BIT_STRING_free(usage);
    if (!done)
        Fail(kInternal, "cannot add the key usage request: " + TakeOpensslError());
}

bool SignRequest(X509_REQ* req, EVP_PKEY* key) {
    if (KindOf(key) != KeyKind::kSm2)
        return X509_REQ_sign(req, key, EVP_sha256()) > 0;
    EvpPkeyPtr sm2 = AsSm2Key(key);
    EvpPkeyCtxPtr pctx = Sm2Context(sm2.get(), kGmSm2Id);  // outlives md, which borrows it
    EvpMdCtxPtr md(EVP_MD_CTX_new());
    if (!md)
        return false;
    EVP_MD_CTX_set_pkey_ctx(md.get(), pctx.get());
    return EVP_DigestSignInit(md.get(), nullptr, EVP_sm3(), nullptr, sm2.get()) == 1 &&
           X509_REQ_sign_ctx(req, md.get()) > 0;
}

}  // namespace

X509NamePtr ParseSubject(std::string_view text) {
    X509NamePtr name(X509_NAME_new());
    if (!name)
        Fail(kInternal, "out of memory");
    const std::vector<Attribute> attributes = Split(text);
    // RFC 4514 writes the most specific RDN first; the DER order is the reverse.
    for (size_t i = attributes.size(); i-- > 0;) {
        const Attribute& a = attributes[i];
        ASN1_OBJECT* type = OBJ_txt2obj(a.type.c_str(), 0);
        if (type == nullptr) {
            TakeOpensslError();
            BadName("unknown attribute type " + a.type);
        }
        if (a.value.empty()) {
            ASN1_OBJECT_free(type);
            BadName("the value of " + a.type + " is empty");
        }
        // A '+' joins this attribute to the one after it in the text, which
        // was added just before.
        const bool joinNext = i + 1 < attributes.size() && attributes[i + 1].joined;
        const int set = joinNext ? -1 : 0;
        const int ok = X509_NAME_add_entry_by_OBJ(
            name.get(), type, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(a.value.data()),
            static_cast<int>(a.value.size()), -1, set);
        ASN1_OBJECT_free(type);
        if (ok != 1) {
            TakeOpensslError();
            BadName("the value of " + a.type + " does not fit it");
        }
    }
    return name;
}

Bytes MakeRequest(EVP_PKEY* key, const X509_NAME* subject, KeyRole role) {
    X509ReqPtr req(X509_REQ_new());
    if (!req || X509_REQ_set_version(req.get(), 0) != 1 ||
        X509_REQ_set_subject_name(req.get(), subject) != 1 ||
        X509_REQ_set_pubkey(req.get(), key) != 1) {
        Fail(kInternal, "cannot make the request: " + TakeOpensslError());
    }
    AddKeyUsage(req.get(), RequestUsage(key, role));
    if (!SignRequest(req.get(), key)) {
        Fail(kInternal, "cannot sign the request: " + TakeOpensslError());
    }
    unsigned char* der = nullptr;
    const int length = i2d_X509_REQ(req.get(), &der);
    if (length <= 0)
        Fail(kInternal, "cannot encode the request");
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

}  // namespace ref
