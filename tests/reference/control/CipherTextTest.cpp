// DES text encryption and random data through the module's entry points,
// checked with the openssl command line.
#include <gtest/gtest.h>

#include <set>

#include "control/ControlHarness.h"

namespace {

class CipherTextTest : public ::testing::Test {
  protected:
    void SetUp() override { scope = std::make_unique<ControlScope>(false); }
    std::string Hex(const std::string& bytes) {
        static const char* digits = "0123456789ABCDEF";
        std::string out;
        for (unsigned char c : bytes) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    }
    std::unique_ptr<ControlScope> scope;
};

struct DesCase {
    const char* keyHex;
    const char* opensslName;
};
const DesCase kDes[] = {
    {"133457799BBCDFF1", "des-cbc"},
    {"133457799BBCDFF10123456789ABCDEF", "des-ede-cbc"},
    {"133457799BBCDFF10123456789ABCDEFFEDCBA9876543210", "des-ede3-cbc"},
};

std::string OpensslDes(const std::string& dir, const DesCase& c, bool decrypt,
                       const std::string& ivHex, const std::string& input) {
    const std::string in = WriteScratch(dir, "des-in", input);
    const CommandResult r =
        RunShell(std::string("openssl enc -provider legacy -provider default ") +
                 (decrypt ? "-d -" : "-e -") + c.opensslName + " -K " + c.keyHex + " -iv " + ivHex +
                 " -in " + ShellQuote(in));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return r.output;
}

TEST_F(CipherTextTest, DesCbcAgreesWithOpensslBothWays) {
    const std::string text = "DES 文本, more than one block of it";
    for (const DesCase& c : kDes) {
        SCOPED_TRACE(c.opensslName);
        const std::string b64 = scope->Text(45, {text, std::string(c.keyHex)});
        ASSERT_FALSE(b64.empty()) << scope->LastMessage();
        const std::string raw = Base64DecodeText(b64);
        ASSERT_EQ(raw.size(), 8 + (text.size() / 8 + 1) * 8);
        EXPECT_EQ(OpensslDes(scope->home(), c, true, Hex(raw.substr(0, 8)), raw.substr(8)), text);
        EXPECT_EQ(scope->Text(46, {b64, std::string(c.keyHex)}), text);

        const std::string iv = "0102030405060708";
        const std::string theirs = std::string("\x01\x02\x03\x04\x05\x06\x07\x08") +
                                   OpensslDes(scope->home(), c, false, iv, text);
        EXPECT_EQ(scope->Text(46, {Base64Of(scope->home(), theirs), std::string(c.keyHex)}), text);
    }
}

TEST_F(CipherTextTest, DesCbcFailures) {
    const std::string good = scope->Text(45, {std::string("hello"), std::string(kDes[0].keyHex)});
    struct Case {
        std::string data, key;
        int32_t code;
    };
    const Case encrypt[] = {
        {"x", "0011", -2},
        {"x", "not hex at all!!", -2},
        {"x", "", -2},
        {"x", "133457799BBCDFF101", -2},
    };
    for (const Case& c : encrypt) {
        EXPECT_EQ(scope->Text(45, {c.data, c.key}), "") << c.key;
        EXPECT_EQ(scope->LastCode(), c.code) << c.key;
    }
    const Case decrypt[] = {
        {"%%%", kDes[0].keyHex, -15},
        {"AAECAwQFBgc=", kDes[0].keyHex, -15},  // an IV alone
        {good, "0011", -2},
    };
    for (const Case& c : decrypt) {
        EXPECT_EQ(scope->Text(46, {c.data, c.key}), "") << c.data;
        EXPECT_EQ(scope->LastCode(), c.code) << c.data;
    }
    // A fixed ciphertext under another key whose padding comes out wrong.
    const std::string fixed =
        std::string("\x01\x02\x03\x04\x05\x06\x07\x08") +
        OpensslDes(scope->home(), kDes[2], false, "0102030405060708", "16 bytes exactly");
    const std::string body = WriteScratch(scope->home(), "fixed", fixed.substr(8));
    ASSERT_NE(RunShell("openssl enc -d -des-ede-cbc -K " + std::string(kDes[1].keyHex) +
                       " -iv 0102030405060708 -in " + ShellQuote(body) + " >/dev/null 2>&1")
                  .exitCode,
              0);
    EXPECT_EQ(scope->Text(46, {Base64Of(scope->home(), fixed), std::string(kDes[1].keyHex)}), "");
    EXPECT_EQ(scope->LastCode(), -14);
}

TEST_F(CipherTextTest, RandomDataSizes) {
    struct Case {
        int32_t n;
        bool ok;
    };
    const Case cases[] = {{0, false}, {1, true}, {65536, true}, {65537, false}, {-1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        const std::string b64 = scope->Text(16, {c.n});
        const std::string hex = scope->Text(44, {c.n});
        if (!c.ok) {
            EXPECT_EQ(b64, "");
            EXPECT_EQ(hex, "");
            EXPECT_EQ(scope->LastCode(), -2);
            continue;
        }
        EXPECT_EQ(Base64DecodeText(b64).size(), static_cast<size_t>(c.n));
        ASSERT_EQ(hex.size(), 2u * static_cast<size_t>(c.n));
        EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
    EXPECT_NE(scope->Text(16, {int32_t{32}}), scope->Text(16, {int32_t{32}}));
}

TEST_F(CipherTextTest, GeneratedKeysFitDesAndAes) {
    std::set<std::string> seen;
    for (int i = 0; i < 4; ++i) {
        const std::string key = scope->Text(196);
        ASSERT_EQ(key.size(), 32u);
        EXPECT_EQ(key.find_first_not_of("0123456789ABCDEF"), std::string::npos);
        seen.insert(key);
        const std::string b64 = scope->Text(45, {std::string("with a generated key"), key});
        ASSERT_FALSE(b64.empty()) << scope->LastMessage();
        EXPECT_EQ(scope->Text(46, {b64, key}), "with a generated key");
    }
    EXPECT_EQ(seen.size(), 4u);
}

}  // namespace
