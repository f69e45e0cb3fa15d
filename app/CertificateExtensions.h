#pragma once
// DER values of the two certificate extensions that mbed TLS 2.28 cannot set
// itself: subjectAltName and extendedKeyUsage.

#include <string>
#include <vector>

namespace zqt {

// GeneralNames: iPAddress 127.0.0.1, then dNSName "localhost".
std::vector<unsigned char> LoopbackSubjectAltNameDer();

// ExtKeyUsageSyntax with id-kp-serverAuth only.
std::vector<unsigned char> ServerAuthExtendedKeyUsageDer();

}  // namespace zqt
