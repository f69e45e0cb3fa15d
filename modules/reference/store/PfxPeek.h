#pragma once
// Reading a PKCS#12 file's certificate without its password: only the
// certificates kept in unencrypted safe contents can be seen this way.

#include <optional>

#include "core/Bytes.h"

namespace ref {

// The DER of the end-entity certificate, or nullopt when the file is not
// PKCS#12 or keeps its certificates encrypted. When several certificates are
// visible, the one whose localKeyID matches the key bag's wins, else the
// first that is not a CA.
std::optional<Bytes> PeekCertificate(ByteView pfx);

}  // namespace ref
