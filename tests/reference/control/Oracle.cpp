#include "control/Oracle.h"

#include "control/ControlHarness.h"

namespace {

std::string DerInteger(std::string bytes) {
    while (bytes.size() > 1 && bytes[0] == '\0' && (static_cast<unsigned char>(bytes[1]) < 0x80)) {
        bytes.erase(0, 1);
    }
    if (static_cast<unsigned char>(bytes[0]) >= 0x80)
        bytes.insert(0, 1, '\0');
    return std::string("\x02", 1) + static_cast<char>(bytes.size()) + bytes;
}

}  // namespace

std::string Oracle::Write(const std::string& name, const std::string& bytes) const {
    return WriteScratch(dir_, name, bytes);
}

std::string Oracle::PublicKey(const TestIdentity& signer) const {
    const std::string path = dir_ + "/pub.pem";
    RunShell("openssl x509 -in " + ShellQuote(signer.cert) + " -pubkey -noout > " +
             ShellQuote(path));
    return path;
}

bool Oracle::VerifyRaw(const TestIdentity& signer, const std::string& hash, const std::string& data,
                       const std::string& signatureBase64) const {
    const std::string sig = Write("sig.bin", Base64DecodeText(signatureBase64));
    const std::string in = Write("data.bin", data);
    return RunShell("openssl dgst -" + hash + " -verify " + PublicKey(signer) + " -signature " +
                    sig + " " + in)
               .exitCode == 0;
}

bool Oracle::VerifySm2(const TestIdentity& signer, const std::string& data,
                       const std::string& signatureBase64, const std::string& id) const {
    const std::string sig = Write("sig.bin", Base64DecodeText(signatureBase64));
    const std::string in = Write("data.bin", data);
    return RunShell("openssl pkeyutl -verify -pubin -inkey " + PublicKey(signer) +
                    " -rawin -digest sm3 -pkeyopt " + ShellQuote("distid:" + id) + " -in " + in +
                    " -sigfile " + sig)
               .exitCode == 0;
}

bool Oracle::VerifySm2Digest(const TestIdentity& signer, const std::string& digest,
                             const std::string& signatureBase64) const {
    const std::string sig = Write("sig.bin", Base64DecodeText(signatureBase64));
    const std::string in = Write("digest.bin", digest);
    return RunShell("openssl pkeyutl -verify -pubin -inkey " + PublicKey(signer) + " -in " + in +
                    " -sigfile " + sig)
               .exitCode == 0;
}

std::string Oracle::VerifyCms(const std::string& caCert, const std::string& cmsBase64,
                              const std::string* detachedContent) const {
    const std::string cms = Write("sig.p7", Base64DecodeText(cmsBase64));
    std::string command = "openssl cms -verify -binary -inform DER -in " + cms + " -CAfile " +
                          ShellQuote(caCert) + " -out " + dir_ + "/content.out";
    if (detachedContent != nullptr) {
        command += " -content " + Write("content.in", *detachedContent);
    }
    if (RunShell(command).exitCode != 0)
        return kFailed;
    return ReadFileText(dir_ + "/content.out");
}

bool Oracle::VerifySm2Cms(const TestIdentity& signer, const std::string& cmsBase64,
                          const std::string* detachedContent) const {
    const std::string cms = Write("sm2.p7", Base64DecodeText(cmsBase64));
    std::string command =
        "/usr/bin/python3 " ZQT_TEST_SUPPORT_DIR "/cms_signed_attrs.py " + cms + " " + dir_;
    if (detachedContent != nullptr)
        command += " " + Write("content.in", *detachedContent);
    const CommandResult parts = RunShell(command);
    if (parts.exitCode != 0 || parts.output.find("1.2.156.10197.1.501") == std::string::npos ||
        parts.output.find("digest ok") == std::string::npos) {
        return false;
    }
    return RunShell("openssl pkeyutl -verify -pubin -inkey " + PublicKey(signer) + " -rawin " +
                    "-digest sm3 -pkeyopt distid:1234567812345678 -in " + dir_ +
                    "/attrs.der -sigfile " + dir_ + "/signature.der")
               .exitCode == 0;
}

std::string Oracle::RsToDer(const std::string& rs) {
    const std::string body =
        DerInteger(rs.substr(0, rs.size() / 2)) + DerInteger(rs.substr(rs.size() / 2));
    return std::string("\x30", 1) + static_cast<char>(body.size()) + body;
}
