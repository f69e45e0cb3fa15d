// SM2 and RSA encryption checked against `openssl pkeyutl` both ways, the
// fixed-length SM2 form converted independently (asn1crypto), and limits.

#include "crypto/PublicKeyCipher.h"

#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"

namespace ref::test {
namespace {

const std::string kMessage = "short secret \xE4\xB8\xAD";
const Bytes kMessageBytes(kMessage.begin(), kMessage.end());

int32_t CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Failure& failure) {
        return failure.code();
    }
    return kOk;
}

std::string PkeyutlDecrypt(const TestIdentity& who, const Bytes& ciphertext,
                           const std::string& options) {
    const std::string in = WriteScratch("ct", ciphertext);
    std::string output;
    EXPECT_TRUE(Openssl("pkeyutl -decrypt -inkey " + who.key + " " + options + " -in " + in +
                            " -out " + in + ".out",
                        &output))
        << output;
    return AsString(ReadBytes(in + ".out"));
}

Bytes PkeyutlEncrypt(const TestIdentity& who, const std::string& options) {
    const std::string in = WriteScratch("pt", kMessageBytes);
    std::string output;
    EXPECT_TRUE(Openssl("pkeyutl -encrypt -pubin -inkey " + PublicKeyFile(who) + " " + options +
                            " -in " + in + " -out " + in + ".ct",
                        &output))
        << output;
    return ReadBytes(in + ".ct");
}

constexpr const char* kOaep =
    "-pkeyopt rsa_padding_mode:oaep -pkeyopt rsa_oaep_md:sha256 -pkeyopt rsa_mgf1_md:sha256";

TEST(Sm2CipherTest, OpensslDecryptsWhatWeEncrypt) {
    EvpPkeyPtr pub = LoadPublicKey(Pki().sm2);
    const Bytes ct = Sm2Encrypt(pub.get(), kMessageBytes);
    EXPECT_EQ(ct.at(0), 0x30) << "DER C1C3C2";
    EXPECT_EQ(PkeyutlDecrypt(Pki().sm2, ct, ""), kMessage);
}

TEST(Sm2CipherTest, DecryptsOpensslsAndTheFixedLengthForm) {
    const Bytes der = PkeyutlEncrypt(Pki().sm2, "");
    EvpPkeyPtr key = LoadPrivateKey(Pki().sm2);
    EXPECT_EQ(Sm2Decrypt(key.get(), der), kMessageBytes);

    // 04 || x || y || C3 || C2, taken apart by asn1crypto rather than by us.
    const std::string derFile = WriteScratch("sm2ct.der", der);
    const CommandResult raw = RunShell(
        "/usr/bin/python3 -c \"import sys; from asn1crypto.core import load; "
        "s = load(open(sys.argv[1], 'rb').read()); "
        "x, y = (s[i].native.to_bytes(32, 'big') for i in (0, 1)); "
        "sys.stdout.buffer.write(bytes([4]) + x + y + s[2].native + s[3].native)\" " +
        derFile);
    ASSERT_EQ(raw.exitCode, 0) << raw.output;
    const Bytes rawBytes(raw.output.begin(), raw.output.end());
    ASSERT_EQ(rawBytes.size(), 1 + 64 + 32 + kMessageBytes.size());
    EXPECT_EQ(Sm2RawToDer(rawBytes), der);
    EXPECT_EQ(Sm2Decrypt(key.get(), rawBytes), kMessageBytes);
}

TEST(Sm2CipherTest, DamageAndWrongKeysFail) {
    EvpPkeyPtr pub = LoadPublicKey(Pki().sm2);
    EvpPkeyPtr key = LoadPrivateKey(Pki().sm2);
    EvpPkeyPtr otherSm2 = LoadPrivateKey(Pki().sm2Ca);
    EvpPkeyPtr rsa = LoadPrivateKey(Pki().rsa);
    Bytes ct = Sm2Encrypt(pub.get(), kMessageBytes);
    Bytes flipped = ct;
    flipped.back() ^= 0x01;  // a byte of C2: C3 no longer matches
    EXPECT_EQ(CodeOf([&] { Sm2Decrypt(key.get(), flipped); }), kDecrypt);
    EXPECT_EQ(CodeOf([&] { Sm2Decrypt(otherSm2.get(), ct); }), kDecrypt);
    EXPECT_EQ(CodeOf([&] { Sm2Decrypt(key.get(), Bytes{0x04, 1, 2}); }), kMalformed);
    EXPECT_EQ(CodeOf([&] { Sm2Decrypt(rsa.get(), ct); }), kKeyType);
    EXPECT_EQ(CodeOf([&] { Sm2Encrypt(pub.get(), {}); }), kBadParam);
    EXPECT_EQ(CodeOf([&] { Sm2Encrypt(rsa.get(), kMessageBytes); }), kKeyType);
}

TEST(RsaCipherTest, BothWaysWithOpensslAndTokenKeys) {
    EvpPkeyPtr pub = LoadPublicKey(Pki().rsa);
    for (bool oaep : {false, true}) {
        SCOPED_TRACE(oaep ? "OAEP" : "PKCS#1 v1.5");
        const std::string options = oaep ? kOaep : "";
        EXPECT_EQ(PkeyutlDecrypt(Pki().rsa, RsaEncrypt(pub.get(), kMessageBytes, oaep), options),
                  kMessage);
        const Bytes ct = PkeyutlEncrypt(Pki().rsa, options);
        for (KeyForm form : {KeyForm::kProvider, KeyForm::kToken}) {
            EvpPkeyPtr key = KeyIn(Pki().rsa, form);
            EXPECT_EQ(RsaDecrypt(key.get(), ct, oaep), kMessageBytes);
        }
        // The other padding does not open it.
        EvpPkeyPtr key = LoadPrivateKey(Pki().rsa);
        EXPECT_EQ(CodeOf([&] { RsaDecrypt(key.get(), ct, !oaep); }), kDecrypt);
    }
}

TEST(RsaCipherTest, LengthLimitsFollowThePadding) {
    EvpPkeyPtr pub = LoadPublicKey(Pki().rsa);
    const size_t k = static_cast<size_t>(EVP_PKEY_get_size(pub.get()));
    struct Case {
        bool oaep;
        size_t length;
        int32_t code;
    };
    const Case cases[] = {
        {false, k - 11, kOk},      {false, k - 10, kBadParam}, {true, k - 66, kOk},
        {true, k - 65, kBadParam}, {false, 0, kBadParam},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CodeOf([&] { RsaEncrypt(pub.get(), Bytes(c.length, 0x5a), c.oaep); }), c.code)
            << c.length << (c.oaep ? " OAEP" : "");
    }
    EvpPkeyPtr key = LoadPrivateKey(Pki().rsa);
    EvpPkeyPtr otherKey = LoadPrivateKey(Pki().rsaCa);
    const Bytes ct = RsaEncrypt(pub.get(), kMessageBytes, false);
    EXPECT_EQ(CodeOf([&] { RsaDecrypt(otherKey.get(), ct, false); }), kDecrypt);
    EXPECT_EQ(CodeOf([&] { RsaDecrypt(key.get(), Bytes(ct.begin(), ct.end() - 1), false); }),
              kMalformed);
    EvpPkeyPtr ec = LoadPrivateKey(Pki().ec);
    EXPECT_EQ(CodeOf([&] { RsaDecrypt(ec.get(), ct, false); }), kKeyType);
}

}  // namespace
}  // namespace ref::test
