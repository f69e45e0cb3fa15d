#include "net/mbedtls_conf.h"

#include <mutex>
#include <string>
#include <vector>

#include <mbedtls/aesni.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>
#include <mbedtls/ssl_cache.h>
#include <mbedtls/ssl_ciphersuites.h>
#include <mbedtls/version.h>
#include <mbedtls/x509_crt.h>
#include <sys/stat.h>

#include "net/sslbase_io.h"

namespace net {

namespace {

constexpr unsigned kOldestUsableVersion = 0x02100000;  // 2.16.0
constexpr const char* kNeededFeatures[] = {
    "MBEDTLS_SSL_SRV_C", "MBEDTLS_SSL_PROTO_TLS1_2", "MBEDTLS_SSL_CACHE_C", "MBEDTLS_CTR_DRBG_C",
    "MBEDTLS_ENTROPY_C", "MBEDTLS_X509_CRT_PARSE_C", "MBEDTLS_PEM_PARSE_C", "MBEDTLS_FS_IO",
};
constexpr char kDrbgPersonalization[] = "zqt_net tls";

struct libpaths {
    std::mutex lock;
    std::string crypto, x509, tls;
};

libpaths& stored_libpaths() {
    static libpaths paths;
    return paths;
}

int to_authmode(mbedtls_verify_t mode) {
    switch (mode) {
        case MBEDTLS_VERIFY_OPTIONAL:
            return MBEDTLS_SSL_VERIFY_OPTIONAL;
        case MBEDTLS_VERIFY_REQUIRED:
            return MBEDTLS_SSL_VERIFY_REQUIRED;
        case MBEDTLS_VERIFY_NONE:
            break;
    }
    return MBEDTLS_SSL_VERIFY_NONE;
}

// Certificate and key files are small; mbed TLS reads a whole file into
// memory and mistakes a directory's size, so anything else is refused first.
constexpr off_t kMaxPemFileSize = 4 * 1024 * 1024;

bool is_small_regular_file(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
           st.st_size <= kMaxPemFileSize;
}

bool is_aes_gcm(const mbedtls_ssl_ciphersuite_t& info) {
    return info.cipher == MBEDTLS_CIPHER_AES_128_GCM || info.cipher == MBEDTLS_CIPHER_AES_192_GCM ||
           info.cipher == MBEDTLS_CIPHER_AES_256_GCM;
}

// Forward secrecy and an AEAD cipher: ECDHE with AES-GCM or
// ChaCha20-Poly1305. CBC suites (and their SHA-1 MACs), static RSA key
// exchange, CCM-8 and pre-shared keys are never offered.
bool is_offered(const mbedtls_ssl_ciphersuite_t& info) {
    const bool ecdhe = info.key_exchange == MBEDTLS_KEY_EXCHANGE_ECDHE_ECDSA ||
                       info.key_exchange == MBEDTLS_KEY_EXCHANGE_ECDHE_RSA;
    return ecdhe && (is_aes_gcm(info) || info.cipher == MBEDTLS_CIPHER_CHACHA20_POLY1305);
}

bool has_aes_instructions() {
#if defined(MBEDTLS_AESNI_C)
    return mbedtls_aesni_has_support(MBEDTLS_AESNI_AES) &&
           mbedtls_aesni_has_support(MBEDTLS_AESNI_CLMUL);
#else
    return false;
#endif
}

// mbed TLS's own list, in its order, filtered by is_offered; with AES and
// carry-less multiply instructions the AES-GCM suites come first, since
// then they cost a fraction of ChaCha20-Poly1305, which mbed TLS ranks
// first for machines without them.
std::vector<int> offered_suites() {
    const bool gcmFirst = has_aes_instructions();
    std::vector<int> first;
    std::vector<int> rest;
    for (const int* suite = mbedtls_ssl_list_ciphersuites(); *suite != 0; ++suite) {
        const mbedtls_ssl_ciphersuite_t* info = mbedtls_ssl_ciphersuite_from_id(*suite);
        if (info == nullptr || !is_offered(*info)) {
            continue;
        }
        (gcmFirst && is_aes_gcm(*info) ? first : rest).push_back(*suite);
    }
    first.insert(first.end(), rest.begin(), rest.end());
    first.push_back(0);
    return first;
}

bool has_cert(const mbedtls_x509_crt& chain) {
    return chain.raw.p != nullptr;
}

// Appends every certificate of a file to a chain, or none of them.
bool append_cert_file(mbedtls_x509_crt& chain, const char* file,
                      const mbedtls_pk_context* key_to_match) {
    mbedtls_x509_crt parsed;
    mbedtls_x509_crt_init(&parsed);
    bool ok = is_small_regular_file(file) && mbedtls_x509_crt_parse_file(&parsed, file) == 0;
    if (ok && key_to_match != nullptr) {
        ok = mbedtls_pk_check_pair(&parsed.pk, key_to_match) == 0;
    }
    for (const mbedtls_x509_crt* c = &parsed; ok && c != nullptr; c = c->next) {
        ok = mbedtls_x509_crt_parse_der(&chain, c->raw.p, c->raw.len) == 0;
    }
    mbedtls_x509_crt_free(&parsed);
    return ok;
}

}  // namespace

// Every mbed TLS object of one configuration; freed in reverse order.
struct mbedtls_conf::state {
    mbedtls_entropy_context entropy;
    mbedtls_ctr_drbg_context drbg;
    mbedtls_x509_crt ownChain;
    mbedtls_pk_context ownKey;
    mbedtls_x509_crt caChain;
    mbedtls_ssl_cache_context cache;
    mbedtls_ssl_config conf;
    std::vector<int> suites;  // the configuration points into it

    bool usable = false;  // defaults applied and generator seeded
    bool hasKey = false;
    bool ownCertSet = false;

    state() {
        mbedtls_entropy_init(&entropy);
        mbedtls_ctr_drbg_init(&drbg);
        mbedtls_x509_crt_init(&ownChain);
        mbedtls_pk_init(&ownKey);
        mbedtls_x509_crt_init(&caChain);
        mbedtls_ssl_cache_init(&cache);
        mbedtls_ssl_config_init(&conf);
    }
    ~state() {
        mbedtls_ssl_config_free(&conf);
        mbedtls_ssl_cache_free(&cache);
        mbedtls_x509_crt_free(&caChain);
        mbedtls_pk_free(&ownKey);
        mbedtls_x509_crt_free(&ownChain);
        mbedtls_ctr_drbg_free(&drbg);
        mbedtls_entropy_free(&entropy);
    }
    state(const state&) = delete;
    state& operator=(const state&) = delete;
};

void mbedtls_conf::set_libpath(const char* libcrypto, const char* libx509, const char* libssl) {
    libpaths& paths = stored_libpaths();
    std::lock_guard<std::mutex> guard(paths.lock);
    paths.crypto = libcrypto ? libcrypto : "";
    paths.x509 = libx509 ? libx509 : "";
    paths.tls = libssl ? libssl : "";
}

bool mbedtls_conf::load() {
    const unsigned version = mbedtls_version_get_number();
    if (version >> 24 != MBEDTLS_VERSION_MAJOR || version < kOldestUsableVersion) {
        return false;
    }
    for (const char* feature : kNeededFeatures) {
        if (mbedtls_version_check_feature(feature) != 0) {
            return false;
        }
    }
    return true;
}

mbedtls_conf::mbedtls_conf(bool server_side, mbedtls_verify_t verify_mode)
    : serverSide_(server_side), state_(std::make_unique<state>()) {
    state& s = *state_;
    const bool seeded =
        mbedtls_ctr_drbg_seed(&s.drbg, mbedtls_entropy_func, &s.entropy,
                              reinterpret_cast<const unsigned char*>(kDrbgPersonalization),
                              sizeof(kDrbgPersonalization) - 1) == 0;
    const bool defaults = mbedtls_ssl_config_defaults(
                              &s.conf, server_side ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                              MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT) == 0;
    if (!seeded || !defaults) {
        return;
    }
    mbedtls_ssl_conf_rng(&s.conf, mbedtls_ctr_drbg_random, &s.drbg);
    mbedtls_ssl_conf_authmode(&s.conf, to_authmode(verify_mode));
    mbedtls_ssl_conf_min_version(&s.conf, MBEDTLS_SSL_MAJOR_VERSION_3, MBEDTLS_SSL_MINOR_VERSION_3);
    s.suites = offered_suites();
    mbedtls_ssl_conf_ciphersuites(&s.conf, s.suites.data());
    s.usable = true;
}

mbedtls_conf::~mbedtls_conf() = default;

void mbedtls_conf::enable_cache(bool on) {
    // The cache locks itself (mbed TLS is built with threading), so
    // connections on several threads may share it.
    if (on) {
        mbedtls_ssl_conf_session_cache(&state_->conf, &state_->cache, mbedtls_ssl_cache_get,
                                       mbedtls_ssl_cache_set);
    } else {
        mbedtls_ssl_conf_session_cache(&state_->conf, nullptr, nullptr, nullptr);
    }
}

bool mbedtls_conf::configure_own_cert() {
    state& s = *state_;
    if (s.ownCertSet || !s.hasKey || !has_cert(s.ownChain)) {
        return true;
    }
    s.ownCertSet = mbedtls_ssl_conf_own_cert(&s.conf, &s.ownChain, &s.ownKey) == 0;
    return s.ownCertSet;
}

bool mbedtls_conf::add_cert(const char* crt_file) {
    state& s = *state_;
    // The key must match the first certificate of the chain, not later ones.
    const bool first = !has_cert(s.ownChain);
    if (!append_cert_file(s.ownChain, crt_file, first && s.hasKey ? &s.ownKey : nullptr)) {
        return false;
    }
    return configure_own_cert();
}

bool mbedtls_conf::set_key(const char* key_file, const char* key_pass) {
    state& s = *state_;
    if (!is_small_regular_file(key_file)) {
        return false;
    }
    mbedtls_pk_context parsed;
    mbedtls_pk_init(&parsed);
    const char* pass = key_pass != nullptr && key_pass[0] != '\0' ? key_pass : nullptr;
    bool ok = mbedtls_pk_parse_keyfile(&parsed, key_file, pass) == 0;
    if (ok && has_cert(s.ownChain)) {
        ok = mbedtls_pk_check_pair(&s.ownChain.pk, &parsed) == 0;
    }
    if (!ok) {
        mbedtls_pk_free(&parsed);
        return false;
    }
    // The configuration points at ownKey, so the new key takes its place.
    mbedtls_pk_free(&s.ownKey);
    s.ownKey = parsed;
    s.hasKey = true;
    return configure_own_cert();
}

bool mbedtls_conf::add_ca(const char* ca_file) {
    state& s = *state_;
    if (!append_cert_file(s.caChain, ca_file, nullptr)) {
        return false;
    }
    mbedtls_ssl_conf_ca_chain(&s.conf, &s.caChain, nullptr);
    return true;
}

const mbedtls_ssl_config* mbedtls_conf::ssl_config() const {
    const state& s = *state_;
    if (!s.usable || (serverSide_ && !s.ownCertSet)) {
        return nullptr;
    }
    return &s.conf;
}

sslbase_io* mbedtls_conf::create(bool nonblock) {
    return new sslbase_io(*this, nonblock);
}

}  // namespace net
