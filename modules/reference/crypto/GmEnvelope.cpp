// A GM/T 0010 envelope is made by OpenSSL's CMS with the inner content type
// set to GM/T 0010's data, then re-wrapped: the outer ContentInfo's type is
// the only other difference, and its content (the EnvelopedData) is kept
// byte for byte.

#include "crypto/GmEnvelope.h"

#include <algorithm>

#include "core/Outcome.h"
#include "crypto/Envelope.h"

namespace ref {

namespace {

// DER of OID 1.2.156.10197.6.1.4.2.3 (GM/T 0010 envelopedData).
const uint8_t kGmEnvelopedOid[] = {0x06, 0x0a, 0x2a, 0x81, 0x1c, 0xcf,
                                   0x55, 0x06, 0x01, 0x04, 0x02, 0x03};
// DER of OID 1.2.840.113549.1.7.3 (PKCS#7 envelopedData).
const uint8_t kPkcs7EnvelopedOid[] = {0x06, 0x09, 0x2a, 0x86, 0x48, 0x86,
                                      0xf7, 0x0d, 0x01, 0x07, 0x03};
constexpr const char* kGmDataOid = "1.2.156.10197.6.1.4.2.1";

struct Tlv {
    uint8_t tag = 0;
    ByteView value;  // the contents octets
    ByteView whole;  // tag, length and contents
};

// One DER TLV at the start of in (definite lengths only).
Tlv ReadTlv(ByteView in) {
    if (in.size() < 2)
        Fail(kMalformed, "the envelope is truncated");
    size_t length = in[1];
    size_t header = 2;
    if ((length & 0x80) != 0) {
        const size_t digits = length & 0x7f;
        if (digits == 0 || digits > 4 || in.size() < 2 + digits)
            Fail(kMalformed, "the envelope has a length DER does not allow");
        length = 0;
        for (size_t i = 0; i < digits; ++i) length = (length << 8) | in[2 + i];
        header += digits;
    }
    if (in.size() - header < length)
        Fail(kMalformed, "the envelope is truncated");
    return {in[0], in.subspan(header, length), in.subspan(0, header + length)};
}

void PutLength(Bytes& out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    Bytes digits;
    for (; length > 0; length >>= 8)
        digits.insert(digits.begin(), static_cast<uint8_t>(length & 0xff));
    out.push_back(static_cast<uint8_t>(0x80 | digits.size()));
    out.insert(out.end(), digits.begin(), digits.end());
}

// The EnvelopedData inside a ContentInfo of the given type.
ByteView EnvelopedDataOf(ByteView contentInfo, ByteView typeOid) {
    const Tlv outer = ReadTlv(contentInfo);
    if (outer.tag != 0x30 || outer.whole.size() != contentInfo.size())
        Fail(kMalformed, "the envelope is not one DER ContentInfo");
    const Tlv type = ReadTlv(outer.value);
    if (!std::equal(type.whole.begin(), type.whole.end(), typeOid.begin(), typeOid.end()))
        Fail(kMalformed, "the ContentInfo is not of the expected envelope type");
    const Tlv explicitContent = ReadTlv(outer.value.subspan(type.whole.size()));
    if (explicitContent.tag != 0xa0 ||
        type.whole.size() + explicitContent.whole.size() != outer.value.size())
        Fail(kMalformed, "the ContentInfo's content is malformed");
    const Tlv enveloped = ReadTlv(explicitContent.value);
    if (enveloped.tag != 0x30 || enveloped.whole.size() != explicitContent.value.size())
        Fail(kMalformed, "the EnvelopedData is malformed");
    return enveloped.whole;
}

Bytes ContentInfo(ByteView typeOid, ByteView envelopedData) {
    Bytes explicitContent{0xa0};
    PutLength(explicitContent, envelopedData.size());
    explicitContent.insert(explicitContent.end(), envelopedData.begin(), envelopedData.end());
    Bytes out{0x30};
    PutLength(out, typeOid.size() + explicitContent.size());
    out.insert(out.end(), typeOid.begin(), typeOid.end());
    out.insert(out.end(), explicitContent.begin(), explicitContent.end());
    return out;
}

}  // namespace

Bytes GmEnvelopeEncrypt(const std::vector<X509*>& recipients, ByteView content) {
    for (X509* cert : recipients) {
        if (cert == nullptr || EVP_PKEY_is_a(X509_get0_pubkey(cert), "SM2") != 1)
            Fail(kKeyType, "a GM/T 0010 envelope is for SM2 recipients only");
    }
    const Bytes cms = EnvelopeEncryptTyped(recipients, "SM4-CBC", false, content, kGmDataOid);
    return ContentInfo(kGmEnvelopedOid, EnvelopedDataOf(cms, kPkcs7EnvelopedOid));
}

Bytes GmEnvelopeAsCms(ByteView gm) {
    return ContentInfo(kPkcs7EnvelopedOid, EnvelopedDataOf(gm, kGmEnvelopedOid));
}

}  // namespace ref
