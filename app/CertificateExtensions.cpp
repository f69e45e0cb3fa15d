#include "app/CertificateExtensions.h"

#include <mbedtls/asn1write.h>
#include <mbedtls/oid.h>

#include <array>
#include <stdexcept>

namespace zqt {

namespace {

// asn1write fills a buffer from its end towards its start.
class BackwardDer {
  public:
    void Raw(const unsigned char* data, std::size_t size) {
        Check(mbedtls_asn1_write_raw_buffer(&m_p, m_buffer.data(), data, size));
    }
    // [tag] IMPLICIT primitive value around the last `size` bytes written.
    void ContextPrimitive(int tag, std::size_t size) {
        Check(mbedtls_asn1_write_len(&m_p, m_buffer.data(), size));
        Check(mbedtls_asn1_write_tag(
            &m_p, m_buffer.data(),
            static_cast<unsigned char>(MBEDTLS_ASN1_CONTEXT_SPECIFIC | tag)));
    }
    void Oid(const char* oid, std::size_t size) {
        Check(mbedtls_asn1_write_oid(&m_p, m_buffer.data(), oid, size));
    }
    // SEQUENCE around everything written so far.
    void Sequence() {
        const std::size_t size = Written();
        Check(mbedtls_asn1_write_len(&m_p, m_buffer.data(), size));
        Check(mbedtls_asn1_write_tag(&m_p, m_buffer.data(),
                                     MBEDTLS_ASN1_CONSTRUCTED | MBEDTLS_ASN1_SEQUENCE));
    }
    std::vector<unsigned char> Result() const {
        const unsigned char* begin = m_p;
        return std::vector<unsigned char>(begin, m_buffer.data() + m_buffer.size());
    }

  private:
    std::size_t Written() const {
        return static_cast<std::size_t>(m_buffer.data() + m_buffer.size() - m_p);
    }
    static void Check(int result) {
        // Only a buffer too small can fail here, and the values are fixed.
        if (result < 0) {
            throw std::logic_error("certificate extension buffer too small");
        }
    }

    std::array<unsigned char, 128> m_buffer{};
    unsigned char* m_p = m_buffer.data() + m_buffer.size();
};

constexpr int kGeneralNameDns = 2;
constexpr int kGeneralNameIp = 7;

}  // namespace

std::vector<unsigned char> LoopbackSubjectAltNameDer() {
    static const unsigned char dns[] = {'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't'};
    static const unsigned char ip[] = {127, 0, 0, 1};
    BackwardDer der;
    der.Raw(dns, sizeof dns);
    der.ContextPrimitive(kGeneralNameDns, sizeof dns);
    der.Raw(ip, sizeof ip);
    der.ContextPrimitive(kGeneralNameIp, sizeof ip);
    der.Sequence();
    return der.Result();
}

std::vector<unsigned char> ServerAuthExtendedKeyUsageDer() {
    BackwardDer der;
    der.Oid(MBEDTLS_OID_SERVER_AUTH, MBEDTLS_OID_SIZE(MBEDTLS_OID_SERVER_AUTH));
    der.Sequence();
    return der.Result();
}

}  // namespace zqt
