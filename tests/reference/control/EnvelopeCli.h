#pragma once
// The openssl command line as the other end of an envelope or ciphertext:
// it opens what the module sealed and seals what the module must open.

#include <string>

#include "control/ControlHarness.h"
#include "control/Oracle.h"
#include "support/TestPki.h"

class EnvelopeCli {
  public:
    explicit EnvelopeCli(std::string dir) : dir_(std::move(dir)) {}

    // `openssl cms -decrypt` of a Base64 envelope; Oracle::kFailed when it fails.
    std::string Open(const TestIdentity& who, const std::string& envelopeBase64) const {
        const std::string in = WriteScratch(dir_, "cli-env.der", Base64DecodeText(envelopeBase64));
        return Run("cms -decrypt -binary -inform DER -in " + in + " -inkey " + who.key +
                       " -recip " + who.cert,
                   in);
    }
    // `openssl cms -encrypt` of bytes; options after -recip (e.g. -keyopt).
    std::string Seal(const std::string& recipientCert, const std::string& content,
                     const std::string& cipherOption, const std::string& options = "") const {
        const std::string in = WriteScratch(dir_, "cli-plain", content);
        const std::string out = Run("cms -encrypt -binary -outform DER " + cipherOption + " -in " +
                                        in + " -recip " + recipientCert + " " + options,
                                    in);
        return out == Oracle::kFailed ? out : Base64Of(dir_, out);
    }
    // `openssl cms -cmsout -print` of a Base64 envelope.
    std::string Print(const std::string& envelopeBase64) const {
        const std::string in =
            WriteScratch(dir_, "cli-print.der", Base64DecodeText(envelopeBase64));
        return Run("cms -cmsout -print -inform DER -in " + in, in);
    }
    // An attached SignedData (DER bytes) by `openssl cms -sign`.
    std::string Sign(const TestIdentity& who, const std::string& content) const {
        const std::string in = WriteScratch(dir_, "cli-signed", content);
        return Run("cms -sign -binary -nodetach -outform DER -md sha256 -in " + in + " -signer " +
                       who.cert + " -inkey " + who.key,
                   in);
    }
    // The inner content of `openssl cms -verify` of DER bytes.
    std::string Verify(const std::string& caCert, const std::string& der) const {
        const std::string in = WriteScratch(dir_, "cli-verify.der", der);
        return Run("cms -verify -binary -inform DER -in " + in + " -CAfile " + caCert, in);
    }
    // openssl pkeyutl -decrypt of Base64 ciphertext with the identity's key.
    std::string KeyDecrypt(const TestIdentity& who, const std::string& cipherBase64,
                           const std::string& options = "") const {
        const std::string in = WriteScratch(dir_, "cli-ct", Base64DecodeText(cipherBase64));
        return Run("pkeyutl -decrypt -inkey " + who.key + " -in " + in + " " + options, in);
    }
    // openssl pkeyutl -encrypt with the certificate's public key, Base64.
    std::string KeyEncrypt(const TestIdentity& who, const std::string& data,
                           const std::string& options = "") const {
        const std::string pub = dir_ + "/cli-pub.pem";
        RunShell("openssl x509 -in " + who.cert + " -pubkey -noout -out " + pub);
        const std::string in = WriteScratch(dir_, "cli-pt", data);
        const std::string out =
            Run("pkeyutl -encrypt -pubin -inkey " + pub + " -in " + in + " " + options, in);
        return out == Oracle::kFailed ? out : Base64Of(dir_, out);
    }

    static constexpr const char* kOaep =
        "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256";

  private:
    // Runs openssl with -out next to in; the output file's bytes, or kFailed.
    std::string Run(const std::string& arguments, const std::string& in) const {
        const std::string out = in + ".out";
        RunShell("rm -f " + ShellQuote(out));
        if (RunShell("openssl " + arguments + " -out " + out).exitCode != 0)
            return Oracle::kFailed;
        return ReadFileText(out);
    }
    std::string dir_;
};
