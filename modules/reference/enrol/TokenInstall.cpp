#include "enrol/TokenInstall.h"

#include "enrol/CreateRequests.h"
#include "enrol/EncKey.h"
#include "enrol/EnrolKeys.h"
#include "inventory/CertFacts.h"
#include "pkcs11/TokenKeyPair.h"
#include "pkcs11/TokenSession.h"

namespace ref {

namespace {

template <typename T, int (*Encode)(const T*, unsigned char**)>
Bytes Der(const T* value) {
    unsigned char* der = nullptr;
    const int length = Encode(value, &der);
    if (length <= 0) {
        TakeOpensslError();
        Fail(kInternal, "cannot encode the certificate's fields");
    }
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

CK_OBJECT_HANDLE CreateTracked(TokenSession& session, const Template& object,
                               const std::string& what, InstallUndo& undo) {
    const CK_OBJECT_HANDLE handle =
        Writing(what, [&] { return session.CreateObject(object.Attributes()); });
    undo.Add([&session, handle] { session.DestroyObject(handle); });
    return handle;
}

void CreateCertificateObject(TokenSession& session, X509* cert, ByteView id,
                             const std::string& label, InstallUndo& undo) {
    Template object;
    object.Ulong(CKA_CLASS, CKO_CERTIFICATE);
    object.Ulong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    object.Bool(CKA_TOKEN, true);
    object.Bool(CKA_PRIVATE, false);
    object.Data(CKA_ID, id);
    object.Text(CKA_LABEL, label);
    object.Data(CKA_SUBJECT, Der<X509_NAME, i2d_X509_NAME>(X509_get_subject_name(cert)));
    object.Data(CKA_ISSUER, Der<X509_NAME, i2d_X509_NAME>(X509_get_issuer_name(cert)));
    object.Data(CKA_SERIAL_NUMBER,
                Der<ASN1_INTEGER, i2d_ASN1_INTEGER>(X509_get0_serialNumber(cert)));
    object.Data(CKA_VALUE, CertificateDer(cert));
    CreateTracked(session, object, "the certificate " + label, undo);
}

void Relabel(TokenSession& session, CK_OBJECT_HANDLE object, const std::string& label,
             InstallUndo& undo) {
    const std::optional<Bytes> old = session.Attribute(object, CKA_LABEL);
    Bytes value(label.begin(), label.end());
    std::vector<CK_ATTRIBUTE> attribute = {
        {CKA_LABEL, value.data(), static_cast<CK_ULONG>(value.size())}};
    Writing("the label of key pair " + label, [&] { session.SetAttributes(object, attribute); });
    undo.Add([&session, object, previous = old.value_or(Bytes{})]() mutable {
        std::vector<CK_ATTRIBUTE> back = {
            {CKA_LABEL, previous.data(), static_cast<CK_ULONG>(previous.size())}};
        session.SetAttributes(object, back);
    });
}

CK_OBJECT_HANDLE PrivateObject(TokenSession& session, const PendingKey& pending) {
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    Bytes id = pending.id;
    std::vector<CK_ATTRIBUTE> match = {{CKA_CLASS, &cls, sizeof cls},
                                       {CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())}};
    const std::vector<CK_OBJECT_HANDLE> found = session.FindObjects(match, 2);
    if (found.size() != 1) {
        Fail(kNoKey, found.empty() ? "the private key of " + pending.label + " is not on the token"
                                   : "several private keys share the id of " + pending.label);
    }
    return found.front();
}

}  // namespace

std::string InstalledLabel(X509* cert) {
    const std::string cn = CommonName(cert);
    return cn.empty() ? "zqtca " + SerialText(cert) : cn;
}

EvpPkeyPtr PendingPrivateKey(TokenSession& session, const PendingKey& pending) {
    return session.PrivateKeyFor(pending.id, pending.publicKey.get());
}

EvpPkeyPtr OpenSentKey(TokenSession& session, const PendingKey& signing, ByteView envelope,
                       X509* signCert, X509* encCert) {
    const CK_OBJECT_HANDLE object = PrivateObject(session, signing);
    const CK_ATTRIBUTE_TYPE use =
        EVP_PKEY_is_a(signing.publicKey.get(), "RSA") ? CKA_DECRYPT : CKA_DERIVE;
    const std::optional<Bytes> before = session.Attribute(object, use);
    const bool allowed = before && before->size() == 1 && (*before)[0] == CK_TRUE;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    std::vector<CK_ATTRIBUTE> allow = {{use, &yes, sizeof yes}};
    std::vector<CK_ATTRIBUTE> forbid = {{use, &no, sizeof no}};
    if (!allowed) {
        try {
            session.SetAttributes(object, allow);
        } catch (const Failure& failure) {
            if (failure.code() == kNoToken)
                throw;
            Fail(kUnsupported, std::string("the token will not let the signing key open the "
                                           "encryption key's envelope: ") +
                                   failure.what());
        }
    }
    InstallUndo restore;  // the signing key signs only, whatever happens
    if (!allowed)
        restore.Add([&] { session.SetAttributes(object, forbid); });
    EvpPkeyPtr key = PendingPrivateKey(session, signing);
    try {
        return OpenEncKey(envelope, key.get(), signCert, encCert);
    } catch (const Failure&) {
        session.ThrowIfFailed("opening the encryption key");
        throw;
    }
}

void InstallNextToKey(TokenSession& session, const PendingKey& pending, X509* cert,
                      InstallUndo& undo) {
    const CK_OBJECT_HANDLE privateKey = PrivateObject(session, pending);
    const std::string label = InstalledLabel(cert);
    CreateCertificateObject(session, cert, pending.id, label, undo);
    Relabel(session, pending.publicObject, label, undo);
    Relabel(session, privateKey, label, undo);
}

void ImportKeyWithCertificate(TokenSession& session, EVP_PKEY* key, X509* cert, InstallUndo& undo) {
    const Bytes id = KeyId(key);
    const std::string label = InstalledLabel(cert);
    Template privateKey;
    Template publicKey;
    ImportTemplates(key, KeyRole::kEncrypt, id, label, privateKey, publicKey);
    CreateTracked(session, privateKey, "the encryption key " + label, undo);
    CreateTracked(session, publicKey, "the encryption public key " + label, undo);
    CreateCertificateObject(session, cert, id, label, undo);
}

}  // namespace ref
