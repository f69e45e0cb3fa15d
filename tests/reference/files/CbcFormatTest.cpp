// The CBC formats against the openssl command line, both ways.
#include <gtest/gtest.h>

#include "core/Bytes.h"
#include "core/Ossl.h"
#include "crypto/SymmetricCbc.h"
#include "files/FilesTestSupport.h"
#include "support/TestPki.h"

namespace {

using ref::Bytes;

struct CipherCase {
    const char* keyHex;
    const char* opensslName;
    bool aes;
};

const CipherCase kCiphers[] = {
    {"0123456789ABCDEF", "des-cbc", false},
    {"0123456789abcdef00112233445566FF", "des-ede-cbc", false},
    {"0123456789ABCDEF00112233445566778899AABBCCDDEEFF", "des-ede3-cbc", false},
    {"000102030405060708090a0b0c0d0e0f", "aes-128-cbc", true},
    {"000102030405060708090a0b0c0d0e0f1011121314151617", "aes-192-cbc", true},
    {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "aes-256-cbc", true},
};

ref::SymmetricKey KeyOf(const CipherCase& c) {
    return c.aes ? ref::AesKeyFromHex(c.keyHex) : ref::DesKeyFromHex(c.keyHex);
}

std::string Openssl(const ScratchDir& dir, const CipherCase& c, bool decrypt,
                    const std::string& ivHex, const std::string& input, int* exitCode = nullptr) {
    const std::string in = dir.path() + "/oracle-in", out = dir.path() + "/oracle-out";
    WriteFileText(in, input);
    const CommandResult r =
        RunShell(std::string("openssl enc ") + (decrypt ? "-d " : "-e ") + "-" + c.opensslName +
                 " -provider legacy -provider default -K " + c.keyHex + " -iv " + ivHex + " -in " +
                 ShellQuote(in) + " -out " + ShellQuote(out));
    if (exitCode != nullptr)
        *exitCode = r.exitCode;
    else
        EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.exitCode == 0 ? ReadFileText(out) : std::string();
}

TEST(CbcFormatTest, OpensslReadsWhatWeWriteAndTheReverse) {
    ScratchDir dir;
    const std::string plains[] = {"", "x", "exactly 16 bytes", std::string(1000, '\x7f') + "end"};
    for (const CipherCase& c : kCiphers) {
        for (const std::string& plain : plains) {
            SCOPED_TRACE(std::string(c.opensslName) + " " + std::to_string(plain.size()));
            const ref::SymmetricKey key = KeyOf(c);
            const size_t ivSize = c.aes ? 16 : 8;
            const Bytes ours = *ref::Base64Decode(ref::CbcEncryptText(key, ref::AsBytes(plain)));
            ASSERT_GE(ours.size(), ivSize + ivSize);
            const std::string ivHex = ref::HexEncode(ref::ByteView(ours).first(ivSize));
            EXPECT_EQ(
                Openssl(dir, c, true, ivHex, ref::AsString(ref::ByteView(ours).subspan(ivSize))),
                plain);

            const std::string theirIv(c.aes ? "00112233445566778899AABBCCDDEEFF"
                                            : "F0E1D2C3B4A59687");
            const std::string theirs =
                ref::AsString(*ref::HexDecode(theirIv)) + Openssl(dir, c, false, theirIv, plain);
            EXPECT_EQ(
                ref::AsString(ref::CbcDecryptText(key, ref::Base64Encode(ref::AsBytes(theirs)))),
                plain);
        }
    }
}

TEST(CbcFormatTest, RandomIvMakesEachCiphertextDifferent) {
    const ref::SymmetricKey key = ref::DesKeyFromHex(kCiphers[1].keyHex);
    EXPECT_NE(ref::CbcEncryptText(key, ref::AsBytes("same")),
              ref::CbcEncryptText(key, ref::AsBytes("same")));
}

TEST(CbcFormatTest, KeysThatFitNoCipherAreRefused) {
    const char* desBad[] = {"",
                            "00",
                            "0123456789ABCD",
                            "0123456789ABCDEF00",
                            "xyz0123456789ABC",
                            "000102030405060708090a0b0c0d0e0f1011121314151617aa"};
    for (const char* hex : desBad)
        EXPECT_EQ(CodeOf([&] { ref::DesKeyFromHex(hex); }), ref::kBadParam) << hex;
    EXPECT_EQ(CodeOf([] { ref::AesKeyFromHex("0123456789ABCDEF"); }), ref::kBadParam);
    EXPECT_TRUE(ref::IsAesKeyHex(kCiphers[3].keyHex));
    EXPECT_TRUE(ref::IsAesKeyHex(kCiphers[2].keyHex));  // 24 bytes: AES-192 as well
    EXPECT_FALSE(ref::IsAesKeyHex(kCiphers[0].keyHex));
    EXPECT_FALSE(ref::IsAesKeyHex("correct horse battery staple"));
}

TEST(CbcFormatTest, DamagedOrForeignCiphertext) {
    ScratchDir dir;
    const CipherCase& c = kCiphers[2];
    const ref::SymmetricKey key = KeyOf(c);
    const std::string iv = "0001020304050607";
    const std::string good =
        ref::AsString(*ref::HexDecode(iv)) + Openssl(dir, c, false, iv, "sixteen byte msg");
    struct Case {
        std::string base64;
        int32_t code;
    };
    const Case cases[] = {
        {"not base64!", ref::kMalformed},
        {"", ref::kMalformed},
        {ref::Base64Encode(ref::AsBytes(good.substr(0, 8))), ref::kMalformed},   // IV only
        {ref::Base64Encode(ref::AsBytes(good.substr(0, 20))), ref::kMalformed},  // part block
        {ref::Base64Encode(ref::AsBytes(good)), ref::kOk},
    };
    for (const Case& k : cases)
        EXPECT_EQ(CodeOf([&] { ref::CbcDecryptText(key, k.base64); }), k.code) << k.base64;
    // Another key: this fixed pair comes out with bad padding (checked with openssl).
    const ref::SymmetricKey other = ref::DesKeyFromHex(kCiphers[1].keyHex);
    int exitCode = 0;
    Openssl(dir, kCiphers[1], true, iv, good.substr(8), &exitCode);
    ASSERT_NE(exitCode, 0);
    EXPECT_EQ(CodeOf([&] { ref::CbcDecryptText(other, ref::Base64Encode(ref::AsBytes(good))); }),
              ref::kDecrypt);
}

}  // namespace
