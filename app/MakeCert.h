#pragma once
// --make-cert DIR: a fresh self-signed server certificate for the HTTPS port.

#include <string>

namespace zqt {

inline constexpr const char* kCertificateFileName = "ssl_crt.pem";
inline constexpr const char* kPrivateKeyFileName = "ssl_key.pem";
inline constexpr int kCertificateValidityDays = 825;

struct MakeCertResult {
    bool ok = false;
    std::string message;  // what was written, or why nothing was
};

// Writes DIR/ssl_crt.pem (0644 less the umask) and DIR/ssl_key.pem (0600): an
// ECDSA P-256 key and a certificate for CN=127.0.0.1 with subjectAltName
// IP 127.0.0.1 and DNS localhost, serverAuth, valid from now for 825 days.
// Existing files are never overwritten: then nothing is written at all.
MakeCertResult MakeCertificateFiles(const std::string& directory);

}  // namespace zqt
