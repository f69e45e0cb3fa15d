#pragma once
// Makes the key pair and self-signed certificate in memory, as PEM texts.

#include <ctime>
#include <optional>
#include <string>

namespace zqt {

// Holds a secret; wiped before its memory is released.
class SecretText {
  public:
    SecretText() = default;
    ~SecretText();
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    SecretText(SecretText&& other) noexcept;
    SecretText& operator=(SecretText&&) = delete;

    std::string& value() { return m_value; }
    const std::string& value() const { return m_value; }

  private:
    std::string m_value;
};

struct CertificatePem {
    std::string certificate;
    SecretText privateKey;
};

// notBefore is the start of validity; the end is kCertificateValidityDays later.
// On failure, error says which step failed.
std::optional<CertificatePem> MakeSelfSignedCertificate(std::time_t notBefore, std::string& error);

// "YYYYMMDDhhmmss" in UTC.
std::string X509Time(std::time_t when);

}  // namespace zqt
