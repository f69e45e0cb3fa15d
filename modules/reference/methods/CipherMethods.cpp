// Methods of symmetric encryption, of files inside the files folder, and of
// random data.
#include <openssl/rand.h>

#include <climits>

#include "control/MethodTable.h"
#include "core/Outcome.h"
#include "crypto/Envelope.h"
#include "crypto/SymmetricCbc.h"
#include "crypto/SymmetricGcm.h"
#include "crypto/SymmetricIo.h"
#include "files/FileJob.h"
#include "methods/EnvelopeSupport.h"
#include "methods/MethodSupport.h"

namespace ref {

namespace {

// An envelope is opened whole in memory (OpenSSL parses it whole anyway).
constexpr size_t kMaxEnvelopeFile = size_t{256} * 1024 * 1024;

std::string DesCbcEncrypt(MainControl&, const MethodArgs& a) {
    const SymmetricKey key = DesKeyFromHex(a.Text(1));
    return CbcEncryptText(key, InputData(a, 0, 0));
}

std::string DesCbcDecrypt(MainControl&, const MethodArgs& a) {
    const SymmetricKey key = DesKeyFromHex(a.Text(1));
    return AsString(CbcDecryptText(key, a.Text(0)));
}

// The DES format on files: the raw bytes IV || ciphertext, no Base64.
int32_t FileEnc(MainControl& c, const MethodArgs& a) {
    const SymmetricKey key = DesKeyFromHex(a.Text(2));
    TransformFile(c.config.filesDir, a.Text(0), a.Text(1),
                  [&](BIO* in, BIO* out) { CbcEncryptStream(key, in, out); });
    return kOk;
}

int32_t FileDec(MainControl& c, const MethodArgs& a) {
    const SymmetricKey key = DesKeyFromHex(a.Text(2));
    TransformFile(c.config.filesDir, a.Text(0), a.Text(1),
                  [&](BIO* in, BIO* out) { CbcDecryptStream(key, in, out); });
    return kOk;
}

// A hex key of AES size means AES-CBC; any other text is a password.
int32_t AesFile(MainControl& c, const MethodArgs& a, bool encrypt) {
    const Secret key = a.SecretText(2);
    if (key.empty())
        Fail(kBadParam, "no key or password");
    if (IsAesKeyHex(key.view())) {
        const SymmetricKey aes = AesKeyFromHex(key.view());
        TransformFile(c.config.filesDir, a.Text(0), a.Text(1), [&](BIO* in, BIO* out) {
            encrypt ? CbcEncryptStream(aes, in, out) : CbcDecryptStream(aes, in, out);
        });
        return kOk;
    }
    TransformFile(c.config.filesDir, a.Text(0), a.Text(1), [&](BIO* in, BIO* out) {
        encrypt ? PasswordEncryptStream(key.view(), in, out)
                : PasswordDecryptStream(key.view(), in, out);
    });
    return kOk;
}

int32_t EncryptAesFile(MainControl& c, const MethodArgs& a) {
    return AesFile(c, a, true);
}
int32_t DecryptAesFile(MainControl& c, const MethodArgs& a) {
    return AesFile(c, a, false);
}

std::string FileEncrypt(MainControl& c, const MethodArgs& a) {
    const std::vector<X509Shared> certs = ChooseRecipients(c, a.Text(2));
    std::vector<X509*> raw;
    for (const X509Shared& cert : certs) raw.push_back(cert.get());
    return TransformFile(c.config.filesDir, a.Text(0), a.Text(1), [&](BIO* in, BIO* out) {
        EnvelopeEncryptStream(raw, c.cipher, c.oaep, in, out);
    });
}

int32_t FileDecrypt(MainControl& c, const MethodArgs& a) {
    ParseFlags(a.Text(2));  // no bit changes a file's content; unknown bits are refused
    TransformFile(c.config.filesDir, a.Text(0), a.Text(1), [&](BIO* in, BIO* out) {
        Bytes envelope;
        Bytes piece(kStreamChunk);
        size_t got;
        do {
            got = ReadFull(in, piece.data(), piece.size());
            if (envelope.size() + got > kMaxEnvelopeFile)
                Fail(kFile, "the envelope file is too large");
            envelope.insert(envelope.end(), piece.begin(), piece.begin() + got);
        } while (got == piece.size());
        Bytes content = OpenOwn(c, envelope, false);
        WriteAll(out, content);
        OPENSSL_cleanse(content.data(), content.size());
    });
    return kOk;
}

Bytes RandomBytes(int32_t n) {
    if (n < 1 || n > 65536)
        Fail(kBadParam, "the number of random bytes must be 1 to 65536");
    Bytes out(static_cast<size_t>(n));
    if (RAND_bytes(out.data(), n) != 1)
        Fail(kInternal, "the random generator failed");
    return out;
}

std::string GenRandom(MainControl&, const MethodArgs& a) {
    return Base64Encode(RandomBytes(a.I4(0)));
}
std::string GenRandomEx(MainControl&, const MethodArgs& a) {
    return HexEncode(RandomBytes(a.I4(0)));
}
// 16 bytes: a key for two-key 3DES, AES-128 or SM4.
std::string GenSymmetricKey(MainControl&, const MethodArgs&) {
    return HexEncode(RandomBytes(16));
}

constexpr MethodRow kRows[] = {
    TextRow(45, "BB", DesCbcEncrypt),      TextRow(46, "BB", DesCbcDecrypt),
    NumberRow(111, "BBB", FileEnc),        NumberRow(112, "BBB", FileDec),
    NumberRow(113, "BBB", EncryptAesFile), NumberRow(118, "BBB", DecryptAesFile),
    TextRow(194, "BBB", FileEncrypt),      NumberRow(195, "BBB", FileDecrypt),
    TextRow(16, "I", GenRandom),           TextRow(44, "I", GenRandomEx),
    TextRow(196, "", GenSymmetricKey),
};

}  // namespace

MethodFamily CipherMethods() {
    return {kRows, sizeof kRows / sizeof kRows[0]};
}

}  // namespace ref
