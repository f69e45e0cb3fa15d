#include "enrol/Install.h"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "enrol/CertInput.h"
#include "enrol/EncKey.h"
#include "enrol/EnrolControl.h"
#include "enrol/EnrolKeys.h"
#include "enrol/EnrolPrompts.h"
#include "enrol/InstallUndo.h"
#include "enrol/PendingKeys.h"
#include "enrol/TokenInstall.h"
#include "enrol/TrustAdd.h"
#include "inventory/CertFacts.h"
#include "pkcs11/P11Errors.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

struct Located {
    Device device;
    Bytes keyId;
};

// The device holding the pending key of cert's public key.
Located Locate(EnrolControl& control, const std::vector<Device>& devices, X509* cert) {
    EVP_PKEY* publicKey = X509_get0_pubkey(cert);
    for (const Device& device : devices) {
        std::vector<PendingKey> pending = device.soft
                                              ? PendingInFolder(control.PendingDir())
                                              : PendingOnToken(*control.tokens.Open(device.token));
        for (const PendingKey& key : pending) {
            if (SamePublicKey(key.publicKey.get(), publicKey))
                return {device, key.id};
        }
    }
    // The chosen token gone is the likelier story than a stranger's certificate.
    if (control.choice && !control.choice->device.soft &&
        std::find(devices.begin(), devices.end(), control.choice->device) == devices.end()) {
        Fail(kNoToken, NotPresentMessage(control.choice->device.token));
    }
    Fail(kNoKey, "no pending key pair for the certificate " +
                     NameText(X509_get_subject_name(cert)) + " (serial " + SerialText(cert) + ")");
}

PendingKey Find(std::vector<PendingKey> keys, const Bytes& id, const Device& device) {
    for (PendingKey& key : keys) {
        if (key.id == id)
            return std::move(key);
    }
    Fail(kNoKey, "the pending key pair is no longer on " + device.name());
}

X509StackPtr Chain(const std::vector<X509Ptr>& cas) {
    X509StackPtr chain(sk_X509_new_null());
    for (const X509Ptr& ca : cas) {
        X509_up_ref(ca.get());
        sk_X509_push(chain.get(), ca.get());
    }
    return chain;
}

// One installation: the sessions it opened and what it wrote, taken back
// unless Finish is reached. Sessions are declared first so they outlive
// the undo steps that use them.
class Installation {
  public:
    Installation(EnrolControl& control, const CertificateBundle& sign,
                 const std::optional<CertificateBundle>& enc, const std::optional<Bytes>& envelope)
        : control_(control), sign_(sign), enc_(enc), envelope_(envelope) {}

    void Install(const Located& where, X509* cert, bool withSentKey) {
        const std::string operation =
            "install the certificate " + InstalledLabel(cert) + " next to its new key";
        if (where.device.soft) {
            InstallSoft(where, cert, withSentKey, operation);
        } else {
            InstallToken(where, cert, withSentKey, operation);
        }
    }

    void Finish() {
        undo_.Commit();
        for (const std::string& path : pendingFiles_) ::unlink(path.c_str());
    }

  private:
    TokenSession& SessionFor(const Device& device, const std::string& operation) {
        for (auto& [open, session] : sessions_) {
            if (open == device)
                return *session;
        }
        auto session = control_.tokens.Open(device.token, Pkcs11Registry::Access::kReadWrite);
        LoginForEnrolment(control_, *session, operation);
        sessions_.emplace_back(device, std::move(session));
        return *sessions_.back().second;
    }

    EvpPkeyPtr SentKey(EVP_PKEY* signKey, X509* signCert) {
        return OpenEncKey(*envelope_, signKey, signCert, enc_->leaf.get());
    }

    void InstallToken(const Located& where, X509* cert, bool withSentKey,
                      const std::string& operation) {
        TokenSession& session = SessionFor(where.device, operation);
        const PendingKey pending = Find(PendingOnToken(session), where.keyId, where.device);
        EvpPkeyPtr sentKey;
        if (withSentKey)
            sentKey = OpenSentKey(session, pending, *envelope_, cert, enc_->leaf.get());
        InstallNextToKey(session, pending, cert, undo_);
        if (sentKey)
            ImportKeyWithCertificate(session, sentKey.get(), enc_->leaf.get(), undo_);
    }

    void InstallSoft(const Located& where, X509* cert, bool withSentKey,
                     const std::string& operation) {
        if (!password_)
            password_ = AskSoftPassword(control_, operation);
        const PendingKey pending =
            Find(PendingInFolder(control_.PendingDir()), where.keyId, where.device);
        EvpPkeyPtr key = OpenPendingFile(pending, *password_);
        EvpPkeyPtr sentKey = withSentKey ? SentKey(key.get(), cert) : nullptr;
        Store(key.get(), cert, cert == sign_.leaf.get() ? sign_.cas : enc_->cas);
        if (sentKey)
            Store(sentKey.get(), enc_->leaf.get(), enc_->cas);
        pendingFiles_.push_back(pending.path);
    }

    void Store(EVP_PKEY* key, X509* cert, const std::vector<X509Ptr>& cas) {
        const bool existed = control_.store.Contains(CertificateDer(cert));
        const std::string path = control_.store.Write(key, cert, Chain(cas).get(), *password_);
        if (!existed)
            undo_.Add([path] { ::unlink(path.c_str()); });
    }

    EnrolControl& control_;
    const CertificateBundle& sign_;
    const std::optional<CertificateBundle>& enc_;
    const std::optional<Bytes>& envelope_;
    std::vector<std::pair<Device, std::unique_ptr<TokenSession>>> sessions_;
    std::optional<Secret> password_;
    std::vector<std::string> pendingFiles_;
    InstallUndo undo_;  // last: runs before the sessions close
};

}  // namespace

void InstallCertificates(EnrolControl& control, const std::string& signText,
                         const std::string& encText, const std::string& encKeyText) {
    if (signText.empty())
        Fail(kBadParam, "no signing certificate given");
    const CertificateBundle sign = SplitBundle(ParseCertificates(signText));
    std::optional<CertificateBundle> enc;
    if (!encText.empty())
        enc = SplitBundle(ParseCertificates(encText));
    if (enc && CertificateDer(enc->leaf.get()) == CertificateDer(sign.leaf.get()))
        Fail(kBadParam, "the signing and the encryption certificate are the same");
    std::optional<Bytes> envelope;
    if (!encKeyText.empty()) {
        if (!enc)
            Fail(kBadParam, "an encryption key was sent without its certificate");
        envelope = EncKeyEnvelope(encKeyText);
    }

    // Every certificate is matched before anything is written.
    const std::vector<Device> devices = ListDevices(control.tokens);
    const Located signAt = Locate(control, devices, sign.leaf.get());
    std::optional<Located> encAt;
    if (enc && !envelope)
        encAt = Locate(control, devices, enc->leaf.get());

    Installation installation(control, sign, enc, envelope);
    installation.Install(signAt, sign.leaf.get(), envelope.has_value());
    if (encAt)
        installation.Install(*encAt, enc->leaf.get(), false);
    installation.Finish();

    std::vector<X509*> cas;
    for (const X509Ptr& ca : sign.cas) cas.push_back(ca.get());
    if (enc) {
        for (const X509Ptr& ca : enc->cas) cas.push_back(ca.get());
    }
    OfferTrust(control, cas);
}

}  // namespace ref
