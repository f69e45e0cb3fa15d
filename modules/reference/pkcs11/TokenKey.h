#pragma once
// OpenSSL keys whose private operations run on a token: an RSA with an
// RSA_METHOD and an EC_KEY with an EC_KEY_METHOD, the public half taken
// from the certificate. All of OpenSSL's CMS, X509_REQ and EVP code then
// works unchanged with them.

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "core/Ossl.h"
#include "core/Outcome.h"

namespace ref {

class SessionCore;

// What a key's callbacks need, reached through the key's ex_data.
struct KeyLink {
    std::shared_ptr<SessionCore> session;
    CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
    bool alwaysAuthenticate = false;
};

// The token's key as an EVP_PKEY with the certificate's public key (which
// must be RSA, resp. EC).
EvpPkeyPtr MakeTokenRsaKey(KeyLink link, EVP_PKEY* publicKey);
EvpPkeyPtr MakeTokenEcKey(KeyLink link, EVP_PKEY* publicKey);

// The failure a callback hit on this thread, kept until taken.
void RecordKeyFailure(uint64_t session, const Failure& failure);
std::optional<Failure> TakeKeyFailure(uint64_t session);
// Forgets any earlier failure: called when a callback starts.
void ClearKeyFailure();

// Records a callback's failure for the link's session and puts it on
// OpenSSL's error queue. Never throws.
void RecordCallbackFailure(const KeyLink& link, const Failure& failure) noexcept;

// Runs a callback body: a Failure (or any exception) is recorded and the
// callback answers failed. No exception ever enters OpenSSL's C code.
template <typename T, typename Body>
T GuardCallback(const KeyLink* link, T failed, Body&& body) noexcept {
    ClearKeyFailure();
    if (link == nullptr || !link->session) {
        return failed;
    }
    try {
        return body();
    } catch (const Failure& failure) {
        RecordCallbackFailure(*link, failure);
    } catch (const std::exception& error) {
        RecordCallbackFailure(*link, Failure(kInternal, error.what()));
    } catch (...) {
        RecordCallbackFailure(*link, Failure(kInternal, "unexpected error in a token key"));
    }
    return failed;
}

// The ex_data slot helpers shared by the RSA and EC keys: a KeyLink is
// copied when OpenSSL duplicates the key and deleted when it frees it.
int DupKeyLink(CRYPTO_EX_DATA* to, const CRYPTO_EX_DATA* from, void** fromData, int index,
               long argl, void* argp);
void FreeKeyLink(void* parent, void* data, CRYPTO_EX_DATA* exData, int index, long argl,
                 void* argp);

}  // namespace ref
