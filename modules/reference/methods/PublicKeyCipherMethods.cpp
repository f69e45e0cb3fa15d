// SM2 and RSA public-key encryption: encrypting needs only the recipient's
// certificate and never asks; decrypting uses the chosen key, asking once
// (or not at all inside an SM2DecryptInit window).
#include "methods/PublicKeyCipherMethods.h"

#include <chrono>

#include "control/KeyAccess.h"
#include "core/Outcome.h"
#include "crypto/PublicKeyCipher.h"
#include "methods/MethodSupport.h"

namespace ref {

namespace {

std::shared_ptr<UnlockedKey> ChosenKey(MainControl& c, KeyKind kind, const char* operation) {
    const CertEntry entry = ChooseSigner(c, "");
    if (kind == KeyKind::kSm2) {
        RequireSm2(entry.cert.get());
    } else if (CertificateKind(entry.cert.get()) != kind) {
        Fail(kKeyType, std::string("this method needs an ") + KindName(kind) +
                           " key, the certificate has " +
                           KindName(CertificateKind(entry.cert.get())));
    }
    return UnlockKey(c, entry, operation);
}

}  // namespace

std::string Sm2EncryptText(MainControl& c, const MethodArgs& a) {
    const Bytes data = InputData(a, 0, 0);
    const X509Shared cert = ChooseCertificate(c, a.Text(1));
    RequireSm2(cert.get());
    return Base64Result(Sm2Encrypt(X509_get0_pubkey(cert.get()), data));
}

std::string Sm2DecryptText(MainControl& c, const MethodArgs& a) {
    const Bytes ciphertext = DecodeParam(a.Text(0), "the SM2 ciphertext");
    auto key = ChosenKey(c, KeyKind::kSm2, "Decrypt data (SM2)");
    return AsString(Sm2Decrypt(key->key(), ciphertext));
}

int32_t Sm2EncryptInit(MainControl& c, const MethodArgs&) {
    const X509Shared cert = ChooseCertificate(c, "");
    RequireSm2(cert.get());
    c.sm2EncryptOpen = true;
    return kOk;
}

int32_t Sm2EncryptFinal(MainControl& c, const MethodArgs&) {
    if (!c.sm2EncryptOpen)
        Fail(kState, "no SM2 encryption was begun (SM2EncryptInit)");
    c.sm2EncryptOpen = false;
    return kOk;
}

int32_t Sm2DecryptInit(MainControl& c, const MethodArgs&) {
    const CertEntry entry = ChooseSigner(c, "");
    RequireSm2(entry.cert.get());
    c.CloseWindow();
    auto key = UnlockKey(c, entry, "Decrypt several times (SM2) until the page finishes");
    const auto seconds = std::chrono::seconds(c.config.pinBatchSeconds);
    c.signWindow = KeyWindow{entry.der, std::move(key), std::chrono::steady_clock::now() + seconds};
    return kOk;
}

int32_t Sm2DecryptFinal(MainControl& c, const MethodArgs&) {
    if (!c.signWindow)
        Fail(kState, "no SM2 decryption was begun (SM2DecryptInit)");
    c.CloseWindow();
    return kOk;
}

std::string RsaEncryptText(MainControl& c, const MethodArgs& a) {
    const Bytes data = InputData(a, 0, 0);
    const X509Shared cert = ChooseCertificate(c, a.Text(1));
    if (CertificateKind(cert.get()) != KeyKind::kRsa)
        Fail(kKeyType, "RSA encryption needs an RSA certificate");
    return Base64Result(RsaEncrypt(X509_get0_pubkey(cert.get()), data, c.oaep));
}

std::string RsaDecryptText(MainControl& c, const MethodArgs& a) {
    const Bytes ciphertext = DecodeParam(a.Text(0), "the RSA ciphertext");
    auto key = ChosenKey(c, KeyKind::kRsa, "Decrypt data (RSA)");
    return AsString(WithKey(*key, "RSA decryption",
                            [&] { return RsaDecrypt(key->key(), ciphertext, c.oaep); }));
}

}  // namespace ref
