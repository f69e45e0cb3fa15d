// Opening a PKCS#12 file with its password.

#include <openssl/err.h>

#include "core/Outcome.h"
#include "store/SoftStore.h"

namespace ref {
namespace {

// The password form the MAC accepts: an empty password may have been turned
// into no password at all by the tool that wrote the file.
bool MacAccepts(PKCS12* p12, const Secret& password, const char*& pass) {
    pass = password.c_str();
    if (PKCS12_verify_mac(p12, pass, static_cast<int>(password.size())) == 1) {
        return true;
    }
    if (password.empty() && PKCS12_verify_mac(p12, nullptr, 0) == 1) {
        pass = nullptr;
        return true;
    }
    return false;
}

}  // namespace

OpenedPfx ParsePfx(ByteView pfx, const Secret& password) {
    LoadProviders();  // RC2-40 of older tools lives in the legacy provider
    ERR_clear_error();
    const unsigned char* p = pfx.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size())));
    if (!p12) {
        ERR_clear_error();
        Fail(kMalformed, "not a PKCS#12 file");
    }
    const char* pass = password.c_str();
    if (PKCS12_mac_present(p12.get())) {
        if (!MacAccepts(p12.get(), password, pass)) {
            ERR_clear_error();
            Fail(kBadPin, "password incorrect");
        }
    }
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    const int parsed = PKCS12_parse(p12.get(), pass, &rawKey, &rawCert, &rawChain);
    OpenedPfx out{EvpPkeyPtr(rawKey), X509Ptr(rawCert), X509StackPtr(rawChain)};
    if (parsed != 1) {
        const std::string reason = TakeOpensslError();
        // Without a MAC a wrong password shows only as a failed decryption.
        if (!PKCS12_mac_present(p12.get())) {
            Fail(kBadPin, "password incorrect");
        }
        Fail(kMalformed, "PKCS#12 file cannot be read: " + reason);
    }
    ERR_clear_error();
    if (!out.key || !out.cert) {
        Fail(kNoKey, "the PKCS#12 file holds no private key with its certificate");
    }
    if (X509_check_private_key(out.cert.get(), out.key.get()) != 1) {
        ERR_clear_error();
        Fail(kNoKey, "the private key does not belong to the certificate");
    }
    if (!out.chain) {
        out.chain.reset(sk_X509_new_null());
        if (!out.chain) {
            Fail(kInternal, "out of memory");
        }
    }
    return out;
}

}  // namespace ref
