#pragma once
// CMS EnvelopedData: sealing content for recipients' certificates and
// opening it with one's own key. RSA recipients get key transport (PKCS#1
// v1.5 or OAEP), EC recipients key agreement, SM2 recipients key transport
// with sm2encrypt, which OpenSSL 3.0 cannot set by itself.

#include <openssl/bio.h>
#include <openssl/x509.h>

#include <string>
#include <vector>

#include "core/Bytes.h"

namespace ref {

// The content ciphers an envelope may use: "AES-128-CBC", "AES-256-CBC",
// "DES-EDE3-CBC", "SM4-CBC" (any case). nullptr for any other name.
const EVP_CIPHER* EnvelopeCipher(const std::string& name);

// DER ContentInfo of an EnvelopedData for all recipients. oaep: RSA
// recipients get RSA-OAEP (SHA-256, MGF1-SHA-256) instead of PKCS#1 v1.5.
// Throws Failure: kBadParam (unknown cipher, no recipients), kKeyType (a
// recipient key that cannot receive), kInternal.
Bytes EnvelopeEncrypt(const std::vector<X509*>& recipients, const std::string& cipher, bool oaep,
                      ByteView content);

// The same with another type for the encrypted content than id-data (an
// OID in dotted form), as GM/T 0010 envelopes have.
Bytes EnvelopeEncryptTyped(const std::vector<X509*>& recipients, const std::string& cipher,
                           bool oaep, ByteView content, const char* contentTypeOid);

// The same, streamed: reads in to its end and writes the DER to out; memory
// use does not grow with the input.
void EnvelopeEncryptStream(const std::vector<X509*>& recipients, const std::string& cipher,
                           bool oaep, BIO* in, BIO* out);

// Opens a DER EnvelopedData with the key of cert (the recipient it was made
// for). Throws Failure: kMalformed (not an EnvelopedData), kDecrypt (not a
// recipient, wrong key, tampered or truncated), kUnsupported (a GM/T 0010
// envelope). CBC has no integrity check of its own: a change inside the
// content (not in its last block) goes unseen; signed envelopes catch it.
Bytes EnvelopeDecrypt(ByteView cms, EVP_PKEY* key, X509* cert);

// The same from BIO to BIO. The envelope itself is parsed whole (OpenSSL
// cannot decrypt DER as it arrives); the content is written as it is
// decrypted, so after a Failure out may hold part of it: callers that write
// files remove the output then.
void EnvelopeDecryptStream(BIO* in, BIO* out, EVP_PKEY* key, X509* cert);

// Who an envelope is for: issuer and serial, or subject key identifier.
struct EnvelopeRecipient {
    Bytes issuerDer;  // DER of the issuer Name (empty with a key id)
    Bytes serialDer;  // DER of the serial INTEGER (empty with a key id)
    Bytes keyId;      // subjectKeyIdentifier (empty with issuer+serial)
};

// The recipients of a DER EnvelopedData, key transport and key agreement
// alike. Throws Failure(kMalformed) when it is not an EnvelopedData.
std::vector<EnvelopeRecipient> EnvelopeRecipients(ByteView cms);
std::vector<EnvelopeRecipient> EnvelopeRecipients(BIO* in);  // reads in whole

// Whether a ContentInfo carries one of GM/T 0010's own content types
// (1.2.156.10197.6.1.4.2.x), which the functions above do not handle.
bool IsGmEnvelope(ByteView cms);

// Whether cert is the recipient described.
bool IsRecipient(const EnvelopeRecipient& recipient, X509* cert);

}  // namespace ref
