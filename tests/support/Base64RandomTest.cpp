// Any conforming encoder's output, with white space anywhere, decodes to the
// original bytes; mbed TLS does the encoding.

#include <gtest/gtest.h>
#include <mbedtls/base64.h>

#include <random>
#include <string>

#include "support/CBase64Coder.h"

namespace {

std::string Encode(const std::string& bytes) {
    size_t needed = 0;
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
    mbedtls_base64_encode(nullptr, 0, &needed, src, bytes.size());
    std::string text(needed, '\0');
    size_t written = 0;
    if (mbedtls_base64_encode(reinterpret_cast<unsigned char*>(text.data()), text.size(), &written,
                              src, bytes.size()) != 0) {
        ADD_FAILURE() << "mbedtls_base64_encode failed";
    }
    text.resize(written);
    return text;
}

std::string RandomBytes(std::mt19937& rng, size_t length) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::string out(length, '\0');
    for (char& c : out) {
        c = static_cast<char>(byte(rng));
    }
    return out;
}

std::string WithWhiteSpace(std::mt19937& rng, const std::string& text) {
    static const char kSpaces[] = {' ', '\t', '\n', '\r', '\x07', '\x08', '\x0b', '\x0c'};
    std::uniform_int_distribution<int> chance(0, 5);
    std::uniform_int_distribution<size_t> pick(0, sizeof kSpaces - 1);
    std::string out;
    for (const char c : text) {
        while (chance(rng) == 0) {
            out.push_back(kSpaces[pick(rng)]);
        }
        out.push_back(c);
    }
    while (chance(rng) == 0) {
        out.push_back(kSpaces[pick(rng)]);
    }
    return out;
}

void ExpectDecodesTo(CBase64Coder& coder, const std::string& text, const std::string& bytes) {
    coder.Decode(reinterpret_cast<const unsigned char*>(text.data()),
                 static_cast<uint32_t>(text.size()));
    ASSERT_EQ(coder.DecodedLength(), bytes.size()) << text;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(coder.DecodedData()), bytes.size()), bytes)
        << text;
    // Canonical text leaves nothing behind the counted bytes.
    EXPECT_EQ(coder.DecodedData()[bytes.size()], 0) << text;
    if (coder.OutputCapacity() > 0) {
        EXPECT_EQ(coder.DecodedData()[bytes.size() + 1], 0) << text;
    }
}

TEST(Base64Random, FreshDecoderPerText) {
    std::mt19937 rng(4648);
    std::uniform_int_distribution<size_t> length(0, 200);
    for (int n = 0; n < 3000; ++n) {
        const std::string bytes = RandomBytes(rng, length(rng));
        const std::string text = Encode(bytes);
        CBase64Coder plain;
        ExpectDecodesTo(plain, text, bytes);
        CBase64Coder spaced;
        ExpectDecodesTo(spaced, WithWhiteSpace(rng, text), bytes);
        if (HasFailure()) {
            return;
        }
    }
}

TEST(Base64Random, OneDecoderReusedAcrossSizes) {
    std::mt19937 rng(1987);
    std::uniform_int_distribution<size_t> small(0, 64);
    std::uniform_int_distribution<size_t> large(2000, 7000);
    CBase64Coder coder;
    for (int n = 0; n < 600; ++n) {
        const std::string bytes = RandomBytes(rng, n % 10 == 0 ? large(rng) : small(rng));
        ExpectDecodesTo(coder, WithWhiteSpace(rng, Encode(bytes)), bytes);
        if (HasFailure()) {
            return;
        }
    }
}

}  // namespace
