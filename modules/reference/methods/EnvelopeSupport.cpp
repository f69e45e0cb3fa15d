#include "methods/EnvelopeSupport.h"

#include "core/Outcome.h"
#include "core/Text.h"
#include "crypto/Envelope.h"
#include "crypto/GmEnvelope.h"
#include "methods/MethodSupport.h"

namespace ref {

namespace {

bool ForAny(const std::vector<EnvelopeRecipient>& recipients, X509* cert) {
    for (const auto& r : recipients) {
        if (IsRecipient(r, cert))
            return true;
    }
    return false;
}

// The chosen certificate when it is a recipient, else the first own
// certificate with a key that is (expired ones too: old mail stays readable).
CertEntry OwnRecipient(MainControl& c, const std::vector<EnvelopeRecipient>& recipients) {
    try {
        CertEntry chosen = ChooseSigner(c, "");
        if (ForAny(recipients, chosen.cert.get()))
            return chosen;
    } catch (const Failure&) {
        // No usable choice: look through everything the user holds.
    }
    StoreFilter all = c.filter;
    all.includeExpired = true;
    for (CertEntry& entry : c.inventory.Scan(all)) {
        if (entry.hasKey && ForAny(recipients, entry.cert.get()))
            return std::move(entry);
    }
    Fail(kDecrypt, "the envelope is not for any of your certificates");
}

}  // namespace

std::vector<X509Shared> ChooseRecipients(MainControl& c, const std::string& list) {
    std::vector<X509Shared> out;
    size_t start = 0;
    while (true) {
        const size_t comma = list.find(',', start);
        const std::string item(TrimBlanks(std::string_view(list).substr(
            start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (item.empty() && (start > 0 || comma != std::string::npos))
            Fail(kBadParam, "an empty recipient in the list");
        out.push_back(ChooseCertificate(c, item));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return out;
}

std::vector<X509*> RecipientPointers(const std::vector<X509Shared>& certs, bool sm2Only) {
    std::vector<X509*> raw;
    for (const X509Shared& cert : certs) {
        if (sm2Only)
            RequireSm2(cert.get());
        raw.push_back(cert.get());
    }
    return raw;
}

Bytes SealFor(MainControl& c, const std::string& recipients, const std::string& cipher,
              ByteView content, bool sm2Only) {
    const std::vector<X509Shared> certs = ChooseRecipients(c, recipients);
    return EnvelopeEncrypt(RecipientPointers(certs, sm2Only), cipher, c.oaep, content);
}

Bytes OpenOwn(MainControl& c, const Bytes& given, bool sm2Only) {
    // GM/T 0010's form differs only in its content types: opened as PKCS#7's.
    const Bytes envelope = IsGmEnvelope(given) ? GmEnvelopeAsCms(given) : given;
    const CertEntry entry = OwnRecipient(c, EnvelopeRecipients(envelope));
    if (sm2Only)
        RequireSm2(entry.cert.get());
    auto key = UnlockKey(c, entry, "Open an envelope");
    return WithKey(*key, "Opening an envelope",
                   [&] { return EnvelopeDecrypt(envelope, key->key(), key->cert()); });
}

void KeepContent(MainControl& c, Bytes content, bool binary) {
    c.content = ContentBuffer{std::move(content), binary, true};
}

}  // namespace ref
