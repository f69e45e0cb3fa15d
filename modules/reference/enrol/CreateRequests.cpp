#include "enrol/CreateRequests.h"

#include <openssl/rand.h>

#include <ctime>

#include "enrol/CertRequest.h"
#include "enrol/EnrolControl.h"
#include "enrol/EnrolPrompts.h"
#include "enrol/PendingKeys.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

std::string Operation(const std::vector<KeyRole>& roles, const EnrolChoice& choice) {
    const std::string what =
        roles.size() > 1 ? "a signing and an encryption key pair" : "a new signing key pair";
    return "create " + what + " (" + KeySpecName(choice.keySpec) + ") for a certificate request";
}

// The generated objects of one call, destroyed again unless the call
// succeeds: a pair nobody got a request for is of no use.
class GeneratedObjects {
  public:
    explicit GeneratedObjects(TokenSession& session) : session_(session) {}
    ~GeneratedObjects() {
        for (CK_OBJECT_HANDLE object : objects_) {
            try {
                session_.DestroyObject(object);
            } catch (const Failure&) {
                // a pulled token keeps them; they stay labelled pending
            }
        }
    }
    void Add(CK_OBJECT_HANDLE object) { objects_.push_back(object); }
    void Keep() { objects_.clear(); }

  private:
    TokenSession& session_;
    std::vector<CK_OBJECT_HANDLE> objects_;
};

Bytes TemporaryId() {
    Bytes id(20);
    if (RAND_bytes(id.data(), static_cast<int>(id.size())) != 1)
        Fail(kInternal, "no random bytes");
    return id;
}

std::string TokenRequest(TokenSession& session, GeneratedObjects& made, const EnrolChoice& choice,
                         const X509_NAME* subject, KeyRole role) {
    const TokenKeyType type =
        choice.keySpec == KeySpec::kEc256 ? TokenKeyType::kEc : TokenKeyType::kRsa;
    const int bits = choice.keySpec == KeySpec::kRsa3072 ? 3072 : 2048;
    const std::string label = PendingLabel(role, std::time(nullptr));
    // The id is the public key's hash, known only after generation.
    auto templates = NewKeyPairTemplates(type, bits, role, TemporaryId(), label);
    CK_MECHANISM mechanism{templates->mechanism, nullptr, 0};
    const auto [pub, priv] = Writing("the new key pair", [&] {
        return session.GenerateKeyPair(mechanism, templates->publicKey.Attributes(),
                                       templates->privateKey.Attributes());
    });
    made.Add(pub);
    made.Add(priv);
    EvpPkeyPtr publicKey = ReadTokenPublicKey(session, pub);
    Bytes id = KeyId(publicKey.get());
    std::vector<CK_ATTRIBUTE> idAttribute = {{CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())}};
    Writing("the new key pair's id", [&] {
        session.SetAttributes(pub, idAttribute);
        session.SetAttributes(priv, idAttribute);
    });
    EvpPkeyPtr key = session.PrivateKeyFor(id, publicKey.get());
    Bytes request;
    try {
        request = MakeRequest(key.get(), subject, role);
    } catch (const Failure&) {
        session.ThrowIfFailed("signing the request");
        throw;
    }
    if (role == KeyRole::kEncrypt) {
        // It signed its own request; from now on it only decrypts. A token
        // that will not change the flag keeps a key that can also sign.
        CK_BBOOL no = CK_FALSE;
        std::vector<CK_ATTRIBUTE> noSign = {{CKA_SIGN, &no, sizeof no}};
        try {
            session.SetAttributes(priv, noSign);
        } catch (const Failure& failure) {
            if (failure.code() == kNoToken)
                throw;
        }
    }
    return Base64Encode(request);
}

std::vector<std::string> OnToken(EnrolControl& control, const EnrolChoice& choice,
                                 const X509_NAME* subject, const std::vector<KeyRole>& roles) {
    if (choice.keySpec == KeySpec::kSm2)
        Fail(kKeyType, "SM2 keys cannot be made on a token: PKCS#11 has no standard SM2 mechanism");
    std::unique_ptr<TokenSession> session =
        control.tokens.Open(choice.device.token, Pkcs11Registry::Access::kReadWrite);
    LoginForEnrolment(control, *session, Operation(roles, choice));
    GeneratedObjects made(*session);
    std::vector<std::string> requests;
    for (KeyRole role : roles)
        requests.push_back(TokenRequest(*session, made, choice, subject, role));
    made.Keep();
    return requests;
}

std::vector<std::string> InSoftStore(EnrolControl& control, const EnrolChoice& choice,
                                     const X509_NAME* subject, const std::vector<KeyRole>& roles) {
    std::vector<EvpPkeyPtr> keys;
    std::vector<std::string> requests;
    for (KeyRole role : roles) {
        keys.push_back(GenerateSoftKey(choice.keySpec));
        requests.push_back(Base64Encode(MakeRequest(keys.back().get(), subject, role)));
    }
    // Asked after the work that can fail without the user: nothing is
    // written until the password is there.
    const Secret password = AskNewPassword(control, Operation(roles, choice));
    std::vector<std::string> written;
    try {
        for (size_t i = 0; i < roles.size(); ++i)
            written.push_back(
                WritePendingFile(control.PendingDir(), keys[i].get(), roles[i], password));
    } catch (const Failure&) {
        for (const std::string& path : written) ::remove(path.c_str());
        throw;
    }
    return requests;
}

}  // namespace

std::vector<std::string> CreateRequests(EnrolControl& control, const std::vector<KeyRole>& roles) {
    if (!control.choice)
        Fail(kState, "no device chosen: call ZQT_SetUSBKeyType first");
    const EnrolChoice& choice = *control.choice;
    const X509NamePtr subject = ParseSubject(choice.subject);
    if (choice.device.soft)
        return InSoftStore(control, choice, subject.get(), roles);
    return OnToken(control, choice, subject.get(), roles);
}

}  // namespace ref
