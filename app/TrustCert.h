#pragma once
// --trust-cert and --untrust-cert: the service's certificate in the user's
// browser certificate databases (NSS), through certutil.

#include <ostream>
#include <string>

namespace zqt {

// The nickname our entry has in every database, and the trust it gets: a
// trusted peer for TLS servers, the flag that suits a self-signed leaf.
inline constexpr const char* kTrustNickname = "zqtca-service";
inline constexpr const char* kServerPeerTrust = "P,,";

struct TrustSetup {
    std::string home;         // whose databases
    std::string searchPath;   // a PATH value, where certutil is looked for
    std::string certificate;  // the PEM file (--trust-cert only)
};

// The folder of the unit's certificate pair: $HOME/.local/share/zqtca/ZQTService.
std::string DefaultCertificateDirectory(const std::string& home);

// Adds the certificate to Chromium's database (made when missing) and to
// every Firefox profile's, or updates an older entry of ours; a database that
// already trusts it is left alone. One line per database on out, failures on
// err. 0 when every database ends up trusting it, else 1.
int TrustCertificate(const TrustSetup& setup, std::ostream& out, std::ostream& err);

// Removes our entry from every database that has one. 0, or 1 on a failure.
int UntrustCertificate(const TrustSetup& setup, std::ostream& out, std::ostream& err);

}  // namespace zqt
