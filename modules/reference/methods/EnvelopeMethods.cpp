// Methods that seal data for recipients and open what was sealed for the
// user: CMS envelopes, signed envelopes, SM2 and RSA encryption.
#include "control/KeyAccess.h"
#include "control/MethodTable.h"
#include "core/Outcome.h"
#include "crypto/CmsSignature.h"
#include "crypto/Envelope.h"
#include "crypto/GmEnvelope.h"
#include "methods/EnvelopeSupport.h"
#include "methods/MethodSupport.h"
#include "methods/PublicKeyCipherMethods.h"

namespace ref {

namespace {

constexpr const char* kSm2Cipher = "SM4-CBC";

// The envelope as the page gives it: Base64 of DER.
Bytes EnvelopeParam(const std::string& text) {
    return DecodeParam(text, "the envelope");
}

// Content returned as text by the plain variants; kept in the buffer too.
std::string ContentText(MainControl& c, Bytes content) {
    std::string text = AsString(content);
    KeepContent(c, std::move(content), false);
    return text;
}

std::string EncryptEnvelop(MainControl& c, const MethodArgs& a) {
    return Base64Result(SealFor(c, a.Text(1), c.cipher, InputData(a, 0, 0), false));
}

std::string EncryptEnvelopEx(MainControl& c, const MethodArgs& a) {
    const std::string named = a.Text(2);
    const std::string cipher = named.empty() ? c.cipher : named;
    if (EnvelopeCipher(cipher) == nullptr)
        Fail(kBadParam, "unknown envelope cipher \"" + cipher + "\"");
    return Base64Result(SealFor(c, a.Text(1), cipher, InputData(a, 0, 0), false));
}

std::string OpenText(MainControl& c, const std::string& envelope, bool sm2Only) {
    c.content = ContentBuffer{};
    return ContentText(c, OpenOwn(c, EnvelopeParam(envelope), sm2Only));
}

int32_t OpenToBuffer(MainControl& c, const MethodArgs& a, bool sm2Only) {
    c.content = ContentBuffer{};
    const uint32_t flags = ParseFlags(a.Text(1));
    KeepContent(c, OpenOwn(c, EnvelopeParam(a.Text(0)), sm2Only), (flags & kFlagBinaryOutput) != 0);
    return kOk;
}

std::string DecryptEnvelop(MainControl& c, const MethodArgs& a) {
    return OpenText(c, a.Text(0), false);
}
int32_t DecryptEnvelopEx(MainControl& c, const MethodArgs& a) {
    return OpenToBuffer(c, a, false);
}

// Sign first (the signer is asked once), then seal the SignedData.
std::string SignAndSeal(MainControl& c, const MethodArgs& a, uint32_t flags) {
    const Bytes data = InputData(a, 0, flags);
    // The recipients are checked before the user is asked for anything.
    const std::vector<X509Shared> recipients = ChooseRecipients(c, a.Text(2));
    const CertEntry signer = ChooseSigner(c, a.Text(1));
    auto key = UnlockKey(c, signer, "Sign and seal data");
    const Hash hash = SigningHash(c, key->cert());
    const Bytes signedData = WithKey(*key, "CMS signing", [&] {
        return CmsSign(key->key(), key->cert(), key->chain(), data, false, hash);
    });
    std::vector<X509*> raw;
    for (const X509Shared& cert : recipients) raw.push_back(cert.get());
    return Base64Result(EnvelopeEncrypt(raw, c.cipher, c.oaep, signedData));
}

std::string CreateSignedEnvelop(MainControl& c, const MethodArgs& a) {
    return SignAndSeal(c, a, 0);
}
std::string CreateSignedEnvelopEx(MainControl& c, const MethodArgs& a) {
    return SignAndSeal(c, a, ParseFlags(a.Text(3)));
}

// Opens, then verifies the SignedData inside; the content is kept only
// when the signature holds.
Bytes OpenAndVerify(MainControl& c, const std::string& envelope, uint32_t flags) {
    c.content = ContentBuffer{};
    const Bytes inner = OpenOwn(c, EnvelopeParam(envelope), false);
    CmsVerification verified = CmsVerify(inner, nullptr, c.trust, (flags & kFlagNoChain) == 0);
    if (verified.code != kOk)
        Fail(verified.code, verified.message);
    return std::move(verified.content);
}

std::string VerifySignedEnvelop(MainControl& c, const MethodArgs& a) {
    return ContentText(c, OpenAndVerify(c, a.Text(0), 0));
}
int32_t VerifySignedEnvelopEx(MainControl& c, const MethodArgs& a) {
    const uint32_t flags = ParseFlags(a.Text(1));
    KeepContent(c, OpenAndVerify(c, a.Text(0), flags), (flags & kFlagBinaryOutput) != 0);
    return kOk;
}

std::string Sm2EncryptEnvelop(MainControl& c, const MethodArgs& a) {
    return Base64Result(SealFor(c, a.Text(1), kSm2Cipher, InputData(a, 0, 0), true));
}
std::string Sm2EncryptEnvelopEx(MainControl& c, const MethodArgs& a) {
    const uint32_t flags = ParseFlags(a.Text(2));
    return Base64Result(SealFor(c, a.Text(1), kSm2Cipher, InputData(a, 0, flags), true));
}
std::string Sm2DecryptEnvelop(MainControl& c, const MethodArgs& a) {
    return OpenText(c, a.Text(0), true);
}
int32_t Sm2DecryptEnvelopEx(MainControl& c, const MethodArgs& a) {
    return OpenToBuffer(c, a, true);
}

// GM/T 0010's form; sealing needs only the certificate, so the "soft"
// variant is the same method.
std::string GmSm2EncryptEnvelop(MainControl& c, const MethodArgs& a) {
    const std::vector<X509Shared> certs = ChooseRecipients(c, a.Text(1));
    return Base64Result(GmEnvelopeEncrypt(RecipientPointers(certs, true), InputData(a, 0, 0)));
}
// Opens both forms, as SM2DecryptEnvelop does.
std::string GmSm2DecryptEnvelop(MainControl& c, const MethodArgs& a) {
    return OpenText(c, a.Text(0), true);
}

constexpr MethodRow kRows[] = {
    TextRow(12, "BB", EncryptEnvelop),          TextRow(13, "B", DecryptEnvelop),
    TextRow(19, "BBB", EncryptEnvelopEx),       NumberRow(20, "BB", DecryptEnvelopEx),
    TextRow(38, "BBB", CreateSignedEnvelop),    TextRow(39, "B", VerifySignedEnvelop),
    TextRow(40, "BBBB", CreateSignedEnvelopEx), NumberRow(41, "BB", VerifySignedEnvelopEx),
    TextRow(54, "BB", Sm2EncryptEnvelop),       TextRow(55, "BBB", Sm2EncryptEnvelopEx),
    TextRow(58, "B", Sm2DecryptEnvelop),        NumberRow(59, "BB", Sm2DecryptEnvelopEx),
    TextRow(82, "B", GmSm2DecryptEnvelop),      TextRow(83, "BB", GmSm2EncryptEnvelop),
    TextRow(119, "BB", GmSm2EncryptEnvelop),    TextRow(60, "BB", Sm2EncryptText),
    TextRow(61, "B", Sm2DecryptText),           NumberRow(52, "", Sm2EncryptInit),
    NumberRow(53, "", Sm2EncryptFinal),         NumberRow(56, "", Sm2DecryptInit),
    NumberRow(57, "", Sm2DecryptFinal),         TextRow(47, "BB", RsaEncryptText),
    TextRow(48, "B", RsaDecryptText),
};

}  // namespace

MethodFamily EnvelopeMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
