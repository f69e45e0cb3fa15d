#pragma once
// An mbed TLS context whose init runs in the constructor and free in the destructor.

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/pk.h>
#include <mbedtls/x509_crt.h>

namespace zqt {

template <typename T, void (*Init)(T*), void (*Free)(T*)>
class MbedtlsObject {
  public:
    MbedtlsObject() { Init(&m_value); }
    ~MbedtlsObject() { Free(&m_value); }
    MbedtlsObject(const MbedtlsObject&) = delete;
    MbedtlsObject& operator=(const MbedtlsObject&) = delete;

    T* get() { return &m_value; }

  private:
    T m_value;
};

using EntropyContext =
    MbedtlsObject<mbedtls_entropy_context, mbedtls_entropy_init, mbedtls_entropy_free>;
using CtrDrbgContext =
    MbedtlsObject<mbedtls_ctr_drbg_context, mbedtls_ctr_drbg_init, mbedtls_ctr_drbg_free>;
using PkContext = MbedtlsObject<mbedtls_pk_context, mbedtls_pk_init, mbedtls_pk_free>;
using Mpi = MbedtlsObject<mbedtls_mpi, mbedtls_mpi_init, mbedtls_mpi_free>;
using X509WriteCert =
    MbedtlsObject<mbedtls_x509write_cert, mbedtls_x509write_crt_init, mbedtls_x509write_crt_free>;
using X509Crt = MbedtlsObject<mbedtls_x509_crt, mbedtls_x509_crt_init, mbedtls_x509_crt_free>;

}  // namespace zqt
