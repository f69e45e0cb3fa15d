#include "control/KeyAccess.h"

#include <openssl/x509.h>

#include "control/MainControl.h"
#include "core/Outcome.h"
#include "crypto/Algorithms.h"
#include "pin/CallerText.h"
#include "pin/PinEntry.h"

namespace ref {

namespace {

std::string NameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    return AsString(BioBytes(bio.get()));
}

std::string SerialText(X509* cert) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(cert);
    BIGNUM* bn = ASN1_INTEGER_to_BN(serial, nullptr);
    if (bn == nullptr)
        return "?";
    char* hex = BN_bn2hex(bn);
    std::string out = hex == nullptr ? "?" : hex;
    OPENSSL_free(hex);
    BN_free(bn);
    return out;
}

KeyKind CertificateKind(X509* cert) {
    return KindOf(X509_get0_pubkey(cert));
}

Secret Ask(MainControl& control, const CertEntry& entry, const std::string& operation) {
    PinRequest request;
    request.title = "Signing service";
    request.description = PromptDescription(control.caller, entry, operation);
    request.prompt = entry.source == Source::kToken ? "PIN:" : "Password:";
    const PinEntrySettings settings{control.config.pinentry, control.config.pinTimeoutSeconds};
    PinAnswer answer = AskPin(settings, request);
    switch (answer.status) {
        case PinStatus::kOk:
            return std::move(answer.pin);
        case PinStatus::kCancelled:
            Fail(kCancelled, "PIN entry cancelled or timed out");
        case PinStatus::kUnavailable:
            break;
    }
    Fail(kCancelled, "no usable PIN entry" + (answer.detail.empty() ? "" : ": " + answer.detail));
}

std::shared_ptr<UnlockedKey> UnlockToken(MainControl& control, const CertEntry& entry,
                                         const std::string& operation) {
    if (CertificateKind(entry.cert.get()) == KeyKind::kSm2) {
        Fail(kUnsupported,
             "SM2 keys on tokens are not supported: PKCS#11 has no standard SM2 "
             "mechanism");
    }
    std::unique_ptr<TokenSession> session = control.tokens.Open(entry.token);
    if (entry.token.pinpad) {
        session->Login(nullptr);
    } else {
        const Secret pin = Ask(control, entry, operation);
        session->Login(&pin);
    }
    EvpPkeyPtr key = session->PrivateKey(entry.keyId, entry.cert.get());
    return std::make_shared<UnlockedKey>(entry, std::move(session), std::move(key),
                                         X509StackPtr(sk_X509_new_null()));
}

std::shared_ptr<UnlockedKey> UnlockSoft(MainControl& control, const CertEntry& entry,
                                        const std::string& operation) {
    const Secret password = Ask(control, entry, operation);
    OpenedPfx opened = control.store.Open(entry.path, password);
    if (CertificateDer(opened.cert.get()) != entry.der) {
        Fail(kNoKey, "the store file no longer holds this certificate");
    }
    return std::make_shared<UnlockedKey>(entry, nullptr, std::move(opened.key),
                                         std::move(opened.chain));
}

}  // namespace

UnlockedKey::UnlockedKey(CertEntry entry, std::unique_ptr<TokenSession> session, EvpPkeyPtr key,
                         X509StackPtr chain)
    : entry_(std::move(entry)),
      session_(std::move(session)),
      key_(std::move(key)),
      chain_(chain ? std::move(chain) : X509StackPtr(sk_X509_new_null())) {}

UnlockedKey::~UnlockedKey() {
    key_.reset();  // before the session that signs for it is closed
    session_.reset();
}

std::string PromptDescription(const std::string& caller, const CertEntry& entry,
                              const std::string& operation) {
    std::string text = Asker(caller) + " asks to use your private key: " + operation + ".\n\n";
    text += "Certificate: " + NameText(X509_get_subject_name(entry.cert.get())) + "\n";
    text += "Serial: " + SerialText(entry.cert.get()) + "\n";
    if (entry.source == Source::kToken) {
        text += "Token: " + entry.token.label + " (" + entry.token.serial + ")";
    } else {
        text += "Store: software certificate";
    }
    return text;
}

std::shared_ptr<UnlockedKey> UnlockKey(MainControl& control, const CertEntry& entry,
                                       const std::string& operation) {
    if (auto key = control.WindowKey(entry.der)) {
        return key;
    }
    return entry.source == Source::kToken ? UnlockToken(control, entry, operation)
                                          : UnlockSoft(control, entry, operation);
}

}  // namespace ref
