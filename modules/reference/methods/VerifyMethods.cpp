// Methods that verify signatures: raw, CMS attached and detached, the SM2
// family; and the content of the last verified attached signature.
#include "core/Outcome.h"
#include "core/Text.h"
#include "crypto/CmsSignature.h"
#include "crypto/RawSignature.h"
#include "methods/MethodSupport.h"

namespace ref {

namespace {

int32_t VerifyRawWith(MainControl& c, const Bytes& data, const std::string& sigText,
                      const std::string& sel, uint32_t flags, bool sm2Only,
                      const std::string& sm2Id) {
    const Bytes signature = DecodeParam(sigText, "the signature");
    const X509Shared cert = ChooseCertificate(c, sel);
    if (sm2Only)
        RequireSm2(cert.get());
    EVP_PKEY* publicKey = X509_get0_pubkey(cert.get());
    if (publicKey == nullptr)
        Fail(kMalformed, "the certificate's public key cannot be read");
    // RSA takes the hash from the signature itself and SM2 always uses SM3;
    // an EC signature is checked with the chosen hash.
    const Hash hash = c.hash == Hash::kSm3 ? Hash::kSha256 : c.hash;
    const int32_t code = VerifyData(publicKey, hash, data, signature, sm2Id);
    if (code != kOk) {
        Fail(code, code == kBadSignature ? "signature invalid" : "the signature is malformed");
    }
    CheckSignerCertificate(c, cert.get(), flags);
    return kOk;
}

int32_t VerifyCms(MainControl& c, const std::string& p7Text, const Bytes* detached, uint32_t flags,
                  bool sm2Only, bool binaryContent) {
    c.content = ContentBuffer{};
    const Bytes cms = DecodeParam(p7Text, "the signature");
    CmsVerification verified = CmsVerify(cms, detached, c.trust, (flags & kFlagNoChain) == 0);
    if (sm2Only && verified.signer)
        RequireSm2(verified.signer.get());
    if (verified.code != kOk)
        Fail(verified.code, verified.message);
    if (detached == nullptr) {
        c.content = ContentBuffer{std::move(verified.content), binaryContent, true};
    }
    return kOk;
}

int32_t VerifySign(MainControl& c, const MethodArgs& a) {
    return VerifyRawWith(c, InputData(a, 0, 0), a.Text(1), a.Text(2), 0, false,
                         std::string(kGmSm2Id));
}
int32_t VerifySignEx(MainControl& c, const MethodArgs& a) {
    const uint32_t flags = ParseFlags(a.Text(3));
    return VerifyRawWith(c, InputData(a, 0, flags), a.Text(1), a.Text(2), flags, false,
                         std::string(kGmSm2Id));
}
int32_t VerifyAttachedSign(MainControl& c, const MethodArgs& a) {
    return VerifyCms(c, a.Text(0), nullptr, 0, false, false);
}
int32_t VerifyAttachedSignEx(MainControl& c, const MethodArgs& a) {
    return VerifyCms(c, a.Text(0), nullptr, 0, false, true);
}
int32_t VerifyDetachedSign(MainControl& c, const MethodArgs& a) {
    const Bytes data = InputData(a, 1, 0);
    return VerifyCms(c, a.Text(0), &data, 0, false, false);
}
int32_t VerifyDetachedSignEx(MainControl& c, const MethodArgs& a) {
    const uint32_t flags = ParseFlags(a.Text(2));
    const Bytes data = InputData(a, 1, flags);
    return VerifyCms(c, a.Text(0), &data, flags, false, false);
}

std::string GetAttachedSignSource(MainControl& c, const MethodArgs&) {
    if (!c.content.present) {
        Fail(kState, "no content: verify an attached signature first");
    }
    if (c.content.binary)
        return Base64Encode(c.content.bytes);
    if (c.content.bytes.empty())
        Fail(kState, "the signed content is empty");
    return AsString(c.content.bytes);
}

int32_t Sm2Verify(MainControl& c, const MethodArgs& a) {
    return VerifyRawWith(c, InputData(a, 0, 0), a.Text(1), a.Text(2), 0, true,
                         std::string(kGmSm2Id));
}
int32_t Sm2VerifySignEx(MainControl& c, const MethodArgs& a) {
    std::string id = a.Text(3);
    if (id.empty())
        id = kGmSm2Id;
    return VerifyRawWith(c, InputData(a, 0, 0), a.Text(1), a.Text(2), 0, true, id);
}
int32_t Sm2VerifyAttachSign(MainControl& c, const MethodArgs& a) {
    return VerifyCms(c, a.Text(0), nullptr, 0, true, false);
}
int32_t Sm2VerifyDetachSign(MainControl& c, const MethodArgs& a) {
    const Bytes data = InputData(a, 1, 0);
    return VerifyCms(c, a.Text(0), &data, 0, true, false);
}
int32_t GmSm2VerifySign(MainControl& c, const MethodArgs& a) {
    return VerifyRawWith(c, InputData(a, 0, 0), a.Text(1), a.Text(2), 0, true,
                         std::string(kGmSm2Id));
}

constexpr MethodRow kRows[] = {
    NumberRow(11, "BBB", VerifySign),         NumberRow(26, "BBBB", VerifySignEx),
    NumberRow(9, "B", VerifyAttachedSign),    NumberRow(24, "B", VerifyAttachedSignEx),
    NumberRow(7, "BB", VerifyDetachedSign),   NumberRow(22, "BBB", VerifyDetachedSignEx),
    TextRow(35, "", GetAttachedSignSource),   NumberRow(15, "BBB", Sm2Verify),
    NumberRow(28, "BBBB", Sm2VerifySignEx),   NumberRow(77, "B", Sm2VerifyAttachSign),
    NumberRow(75, "BB", Sm2VerifyDetachSign), NumberRow(94, "BBB", GmSm2VerifySign),
};

}  // namespace

MethodFamily VerificationMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
