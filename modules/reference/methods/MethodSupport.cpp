#include "methods/MethodSupport.h"

#include <charconv>

#include "core/Outcome.h"
#include "core/Text.h"

namespace ref {

uint32_t ParseFlags(std::string_view text) {
    text = TrimBlanks(text);
    if (text.empty())
        return 0;
    uint32_t flags = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), flags);
    if (ec != std::errc() || end != text.data() + text.size()) {
        Fail(kBadParam, "flags must be a decimal number");
    }
    constexpr uint32_t known =
        kFlagBase64Input | kFlagGb18030 | kFlagBinaryOutput | kFlagRawRs | kFlagNoChain;
    if ((flags & ~known) != 0) {
        Fail(kBadParam, "unknown flag bits " + std::to_string(flags & ~known));
    }
    return flags;
}

Bytes InputData(const MethodArgs& args, uint32_t index, uint32_t flags) {
    if ((flags & kFlagBase64Input) != 0) {
        auto bytes = Base64Decode(args.Text(index));
        if (!bytes)
            Fail(kMalformed, "the data is not Base64");
        return *bytes;
    }
    const std::string text =
        (flags & kFlagGb18030) != 0 ? ToGb18030(args.Wide(index)) : args.Text(index);
    return Bytes(text.begin(), text.end());
}

Bytes DecodeParam(const std::string& text, const char* what) {
    auto bytes = Base64Decode(text);
    if (!bytes || bytes->empty()) {
        Fail(kMalformed, std::string(what) + " is not Base64");
    }
    return *bytes;
}

CertEntry ChooseSigner(MainControl& control, const std::string& sel) {
    return control.inventory.ResolveSigner(control.filter, control.criteria, TrimBlanks(sel));
}

X509Shared ChooseCertificate(MainControl& control, const std::string& sel) {
    return control.inventory.ResolveCertificate(control.filter, control.criteria, TrimBlanks(sel));
}

KeyKind CertificateKind(X509* cert) {
    return KindOf(X509_get0_pubkey(cert));
}

void RequireSm2(X509* cert) {
    if (CertificateKind(cert) != KeyKind::kSm2) {
        Fail(kKeyType, std::string("this method needs an SM2 key, the certificate has ") +
                           KindName(CertificateKind(cert)));
    }
}

void CheckSignerCertificate(MainControl& control, X509* cert, uint32_t flags) {
    std::string message;
    const int32_t code = control.trust.Check(cert, nullptr, (flags & kFlagNoChain) == 0, message);
    if (code != kOk)
        Fail(code, message);
}

Hash SigningHash(const MainControl& control, X509* cert) {
    if (CertificateKind(cert) == KeyKind::kSm2)
        return Hash::kSm3;
    if (control.hash == Hash::kSm3) {
        Fail(kKeyType, "SM3 is for SM2 keys; choose another hash with SetAlgorithm");
    }
    return control.hash;
}

}  // namespace ref
