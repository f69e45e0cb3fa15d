// Opening a PKCS#12 file with its password.

#include <openssl/err.h>

#include "core/Outcome.h"
#include "store/SoftStore.h"

namespace ref {
namespace {

// Whether OpenSSL's queue says the MAC did not match the password.
bool MacRefused() {
    unsigned long code = 0;
    bool refused = false;
    while ((code = ERR_get_error()) != 0) {
        refused = refused || (ERR_GET_LIB(code) == ERR_LIB_PKCS12 &&
                              ERR_GET_REASON(code) == PKCS12_R_MAC_VERIFY_FAILURE);
    }
    return refused;
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
    // PKCS12_parse checks the MAC itself (an empty password also as no
    // password at all), so the costly key derivation runs once, not twice.
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    const int parsed = PKCS12_parse(p12.get(), password.c_str(), &rawKey, &rawCert, &rawChain);
    OpenedPfx out{EvpPkeyPtr(rawKey), X509Ptr(rawCert), X509StackPtr(rawChain)};
    if (parsed != 1) {
        if (MacRefused()) {
            Fail(kBadPin, "password incorrect");
        }
        // Without a MAC a wrong password shows only as a failed decryption.
        if (!PKCS12_mac_present(p12.get())) {
            Fail(kBadPin, "password incorrect");
        }
        Fail(kMalformed, "PKCS#12 file cannot be read");
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
