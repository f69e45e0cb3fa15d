#pragma once
// CA certificates that came with an installation: added to the user's trust
// folder only when the user confirms it, since any page can send some.

#include <openssl/x509.h>

#include <vector>

namespace ref {

class EnrolControl;

// Asks once (CONFIRM) for the CAs not trusted yet and writes each as
// <sha256 of its DER>.pem. Declined, cancelled or not writable: skipped.
void OfferTrust(EnrolControl& control, const std::vector<X509*>& cas);

}  // namespace ref
