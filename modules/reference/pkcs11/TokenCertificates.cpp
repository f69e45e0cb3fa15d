#include "pkcs11/TokenCertificates.h"

#include <set>

namespace ref {

namespace {

// The CKA_IDs of the key objects of this class visible now.
void CollectKeyIds(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass,
                   size_t limit, std::set<Bytes>& ids) {
    CK_ATTRIBUTE match[] = {{CKA_CLASS, &keyClass, sizeof keyClass}};
    std::vector<CK_OBJECT_HANDLE> keys;
    FindObjects(fn, session, match, 1, limit, keys);
    for (CK_OBJECT_HANDLE key : keys) {
        if (std::optional<Bytes> id = ReadAttribute(fn, session, key, CKA_ID)) {
            ids.insert(std::move(*id));
        }
    }
}

void ReadInSession(CK_FUNCTION_LIST* fn, CK_SESSION_HANDLE session, const TokenInfo& token,
                   std::vector<TokenCertificate>& out) {
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_ATTRIBUTE match[] = {
        {CKA_CLASS, &certClass, sizeof certClass},
        {CKA_CERTIFICATE_TYPE, &certType, sizeof certType},
    };
    std::vector<CK_OBJECT_HANDLE> objects;
    if (FindObjects(fn, session, match, 2, kMaxObjectsPerToken, objects) != CKR_OK) {
        return;
    }
    std::vector<TokenCertificate> found;
    for (CK_OBJECT_HANDLE object : objects) {
        std::optional<Bytes> der = ReadAttribute(fn, session, object, CKA_VALUE);
        if (!der || der->empty()) {
            continue;
        }
        TokenCertificate cert;
        cert.token = token;
        cert.der = std::move(*der);
        cert.id = ReadAttribute(fn, session, object, CKA_ID).value_or(Bytes());
        cert.label = AsString(ReadAttribute(fn, session, object, CKA_LABEL).value_or(Bytes()));
        found.push_back(std::move(cert));
    }
    // Keys share what is left of the token's object budget.
    size_t budget = kMaxObjectsPerToken - objects.size();
    std::set<Bytes> keyIds;
    CollectKeyIds(fn, session, CKO_PRIVATE_KEY, budget / 2, keyIds);
    CollectKeyIds(fn, session, CKO_PUBLIC_KEY, budget - budget / 2, keyIds);
    for (TokenCertificate& cert : found) {
        cert.keyVisible = keyIds.count(cert.id) > 0;
        out.push_back(std::move(cert));
    }
}

}  // namespace

void ReadTokenCertificates(CK_FUNCTION_LIST* fn, CK_SLOT_ID slot, const TokenInfo& token,
                           std::vector<TokenCertificate>& out) noexcept {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    if (fn->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session) != CKR_OK) {
        return;
    }
    try {
        ReadInSession(fn, session, token, out);
    } catch (...) {
        // Out of memory on one token: the others are still listed.
    }
    fn->C_CloseSession(session);
}

}  // namespace ref
