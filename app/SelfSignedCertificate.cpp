#include "app/SelfSignedCertificate.h"

#include <mbedtls/error.h>
#include <mbedtls/oid.h>
#include <mbedtls/platform_util.h>

#include <array>
#include <vector>

#include "app/CertificateExtensions.h"
#include "app/MakeCert.h"
#include "app/MbedtlsObject.h"

namespace zqt {

namespace {

constexpr const char* kSubject = "CN=127.0.0.1";
constexpr const char kPersonalisation[] = "zqtca-service make-cert";
constexpr std::size_t kSerialBytes = 16;

std::string Describe(const char* step, int code) {
    char text[160];
    mbedtls_strerror(code, text, sizeof text);
    return std::string(step) + " failed: " + text;
}

// Turns the first failing step into its message.
class Steps {
  public:
    explicit Steps(std::string& error) : m_error(error) {}
    bool operator()(const char* step, int code) {
        if (code != 0 && m_error.empty()) {
            m_error = Describe(step, code);
        }
        return code == 0;
    }

  private:
    std::string& m_error;
};

bool MakeKey(PkContext& key, CtrDrbgContext& drbg, Steps& step) {
    return step("key setup",
                mbedtls_pk_setup(key.get(), mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY))) &&
           step("key generation",
                mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(*key.get()),
                                    mbedtls_ctr_drbg_random, drbg.get()));
}

// A positive serial of full length, as certificate profiles ask.
bool MakeSerial(Mpi& serial, CtrDrbgContext& drbg, Steps& step) {
    std::array<unsigned char, kSerialBytes> bytes{};
    if (!step("serial", mbedtls_ctr_drbg_random(drbg.get(), bytes.data(), bytes.size()))) {
        return false;
    }
    bytes[0] = static_cast<unsigned char>((bytes[0] & 0x7F) | 0x40);
    return step("serial", mbedtls_mpi_read_binary(serial.get(), bytes.data(), bytes.size()));
}

int SetExtension(X509WriteCert& crt, const char* oid, std::size_t oidSize,
                 const std::vector<unsigned char>& der) {
    return mbedtls_x509write_crt_set_extension(crt.get(), oid, oidSize, 0, der.data(), der.size());
}

bool DescribeCertificate(X509WriteCert& crt, PkContext& key, Mpi& serial, std::time_t notBefore,
                         Steps& step) {
    mbedtls_x509write_cert* c = crt.get();
    mbedtls_x509write_crt_set_version(c, MBEDTLS_X509_CRT_VERSION_3);
    mbedtls_x509write_crt_set_md_alg(c, MBEDTLS_MD_SHA256);
    mbedtls_x509write_crt_set_subject_key(c, key.get());
    mbedtls_x509write_crt_set_issuer_key(c, key.get());
    const std::time_t notAfter = notBefore + std::time_t{kCertificateValidityDays} * 86400;
    const std::string from = X509Time(notBefore);
    const std::string to = X509Time(notAfter);
    const auto san = LoopbackSubjectAltNameDer();
    const auto eku = ServerAuthExtendedKeyUsageDer();
    return step("subject name", mbedtls_x509write_crt_set_subject_name(c, kSubject)) &&
           step("issuer name", mbedtls_x509write_crt_set_issuer_name(c, kSubject)) &&
           step("serial", mbedtls_x509write_crt_set_serial(c, serial.get())) &&
           step("validity", mbedtls_x509write_crt_set_validity(c, from.c_str(), to.c_str())) &&
           step("basic constraints", mbedtls_x509write_crt_set_basic_constraints(c, 0, -1)) &&
           step("key usage",
                mbedtls_x509write_crt_set_key_usage(
                    c, MBEDTLS_X509_KU_DIGITAL_SIGNATURE | MBEDTLS_X509_KU_KEY_AGREEMENT)) &&
           step("subject key identifier", mbedtls_x509write_crt_set_subject_key_identifier(c)) &&
           step("authority key identifier",
                mbedtls_x509write_crt_set_authority_key_identifier(c)) &&
           step("subject alternative name",
                SetExtension(crt, MBEDTLS_OID_SUBJECT_ALT_NAME,
                             MBEDTLS_OID_SIZE(MBEDTLS_OID_SUBJECT_ALT_NAME), san)) &&
           step("extended key usage",
                SetExtension(crt, MBEDTLS_OID_EXTENDED_KEY_USAGE,
                             MBEDTLS_OID_SIZE(MBEDTLS_OID_EXTENDED_KEY_USAGE), eku));
}

bool WriteCertificatePem(X509WriteCert& crt, CtrDrbgContext& drbg, std::string& out, Steps& step) {
    std::vector<unsigned char> buffer(4096);
    if (!step("certificate", mbedtls_x509write_crt_pem(crt.get(), buffer.data(), buffer.size(),
                                                       mbedtls_ctr_drbg_random, drbg.get()))) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(buffer.data()));
    return true;
}

bool WriteKeyPem(PkContext& key, SecretText& out, Steps& step) {
    std::array<unsigned char, 1024> buffer{};
    const int result = mbedtls_pk_write_key_pem(key.get(), buffer.data(), buffer.size());
    if (result == 0) {
        out.value().assign(reinterpret_cast<const char*>(buffer.data()));
    }
    mbedtls_platform_zeroize(buffer.data(), buffer.size());
    return step("key export", result);
}

}  // namespace

SecretText::~SecretText() {
    mbedtls_platform_zeroize(m_value.data(), m_value.size());
}

SecretText::SecretText(SecretText&& other) noexcept : m_value(std::move(other.m_value)) {
    // A short string may have been copied rather than moved.
    mbedtls_platform_zeroize(other.m_value.data(), other.m_value.size());
    other.m_value.clear();
}

std::string X509Time(std::time_t when) {
    std::tm utc{};
    gmtime_r(&when, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &utc);
    return text;
}

std::optional<CertificatePem> MakeSelfSignedCertificate(std::time_t notBefore, std::string& error) {
    error.clear();
    Steps step(error);
    EntropyContext entropy;
    CtrDrbgContext drbg;
    PkContext key;
    Mpi serial;
    X509WriteCert crt;
    CertificatePem pem;
    const bool ok =
        step("random generator seeding",
             mbedtls_ctr_drbg_seed(drbg.get(), mbedtls_entropy_func, entropy.get(),
                                   reinterpret_cast<const unsigned char*>(kPersonalisation),
                                   sizeof kPersonalisation - 1)) &&
        MakeKey(key, drbg, step) && MakeSerial(serial, drbg, step) &&
        DescribeCertificate(crt, key, serial, notBefore, step) &&
        WriteCertificatePem(crt, drbg, pem.certificate, step) &&
        WriteKeyPem(key, pem.privateKey, step);
    if (!ok) {
        return std::nullopt;
    }
    return pem;
}

}  // namespace zqt
