#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/CBase64Coder.h"

namespace {

using std::string_literals::operator""s;

std::string Decoded(const CBase64Coder& coder) {
    return std::string(reinterpret_cast<const char*>(coder.DecodedData()), coder.DecodedLength());
}

void Decode(CBase64Coder& coder, const std::string& text) {
    coder.Decode(reinterpret_cast<const unsigned char*>(text.data()),
                 static_cast<uint32_t>(text.size()));
}

// Bytes from the end of the written groups to the end of the buffer.
bool ZeroFrom(const CBase64Coder& coder, uint32_t offset) {
    for (uint32_t k = offset; k < coder.OutputCapacity(); ++k) {
        if (coder.DecodedData()[k] != 0) {
            return false;
        }
    }
    return true;
}

struct DecodeCase {
    const char* name;
    std::string input;
    std::string counted;    // the DecodedLength() bytes
    std::string uncounted;  // written after them by the last group
};

class Base64Cases : public testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Cases, Decodes) {
    const DecodeCase& c = GetParam();
    CBase64Coder coder;
    Decode(coder, c.input);
    EXPECT_EQ(Decoded(coder), c.counted);
    ASSERT_NE(coder.DecodedData(), nullptr);
    const std::string tail(reinterpret_cast<const char*>(coder.DecodedData()) + c.counted.size(),
                           c.uncounted.size());
    EXPECT_EQ(tail, c.uncounted);
    EXPECT_TRUE(ZeroFrom(coder, static_cast<uint32_t>(c.counted.size() + c.uncounted.size())));
}

INSTANTIATE_TEST_SUITE_P(
    Base64, Base64Cases,
    testing::Values(DecodeCase{"Empty", "", "", ""},
                    DecodeCase{"WhiteSpaceOnly", " \t\r\n\x0b\x0c\x07\x08  ", "", ""},
                    DecodeCase{"OneGroup", "TWFu", "Man", ""},
                    DecodeCase{"TwoGroups", "TWFuTWFu", "ManMan", ""},
                    DecodeCase{"OnePad", "TWE=", "Ma", "\0"s},
                    DecodeCase{"TwoPads", "TQ==", "M", "\0\0"s},
                    DecodeCase{"AllOnes", "//8=", "\xFF\xFF", "\0"s},
                    DecodeCase{"PaddedAfterGroup", "TWFuTWE=", "ManMa", "\0"s},
                    // Low bits a canonical encoder would have left zero stay in the buffer.
                    DecodeCase{"TwoPadsLowBitsShifted", "TR==", "M", "\x10\0"s},
                    DecodeCase{"OnePadLowBitsShifted", "TWF=", "Ma", "\x40"},
                    DecodeCase{"ThreeCharsNoPad", "TWE", "Ma>", ""},
                    DecodeCase{"TwoCharsNoPad", "TW", "Mo\xBE", ""},
                    DecodeCase{"OneChar", "T", "O\xEF\xBE", ""},
                    DecodeCase{"OnlyPads", "====", "\xFF", "\xF0\0"s},
                    DecodeCase{"OnePadAlone", "=", "\xFF\xEF\xBE", ""},
                    DecodeCase{"PadInsideMainGroup", "TQ==TWFu", "M\x0F\xFFMan", ""},
                    DecodeCase{"ForeignInMainGroup", "****TWFu", "\xFB\xEF\xBEMan", ""},
                    DecodeCase{"ForeignAfterGroup", "TWFu\x0e", "Man\xFB\xEF\xBE", ""},
                    DecodeCase{"ByteSixIsKept",
                               "TW\x06"
                               "Fu",
                               "Mo\x85\xBB\xEF\xBE", ""},
                    DecodeCase{"NulIsKept", "TW\0Fu"s, "Mo\x85\xBB\xEF\xBE", ""},
                    DecodeCase{"SpacesInsideGroups", "T W\tF\nu\r\nT W E =", "ManMa", "\0"s},
                    DecodeCase{"AllSkippedBytes",
                               "\x07T\x08W\x09"
                               "F\x0au\x0bT\x0cQ\x0d=\x20=",
                               "ManM", "\0\0"s},
                    DecodeCase{"HighBitAlphabet", "\xD4\xD7\xC6\xF5", "Man", ""},
                    DecodeCase{"HighBitPad", "\xD4\xD1\xBD\xBD", "M", "\0\0"s},
                    DecodeCase{"HighBitMixed",
                               "T\xD7"
                               "F\xF5TQ=\xBD",
                               "ManM", "\0\0"s}),
    [](const auto& c) { return std::string(c.param.name); });

TEST(Base64, BeforeAnyDecodeDataIsEmptyString) {
    CBase64Coder coder;
    ASSERT_NE(coder.DecodedData(), nullptr);
    EXPECT_EQ(coder.DecodedData()[0], 0);
    EXPECT_EQ(coder.DecodedLength(), 0u);
}

TEST(Base64, EmptyDecodeAllocatesNothing) {
    CBase64Coder coder;
    Decode(coder, "");
    EXPECT_EQ(coder.OutputCapacity(), 0u);
    EXPECT_EQ(coder.InputCapacity(), 0u);
    ASSERT_NE(coder.DecodedData(), nullptr);
    EXPECT_EQ(coder.DecodedData()[0], 0);
}

TEST(Base64, NullDataDecodesNothing) {
    CBase64Coder coder;
    coder.Decode(nullptr, 16);
    EXPECT_EQ(coder.DecodedLength(), 0u);
    EXPECT_EQ(coder.DecodedData()[0], 0);
}

struct CapacityCase {
    uint32_t length;
    uint32_t capacity;
};

class Base64Capacity : public testing::TestWithParam<CapacityCase> {};

TEST_P(Base64Capacity, GrowsInPagesAboveLength) {
    CBase64Coder coder;
    Decode(coder, std::string(GetParam().length, 'A'));
    EXPECT_EQ(coder.InputCapacity(), GetParam().capacity);
    EXPECT_EQ(coder.OutputCapacity(), GetParam().capacity);
    // Groups of 'A' (the value 0) decode to zeros; a short last group ends
    // in bits of the value -2, and nothing lies behind it.
    const uint32_t length = GetParam().length;
    if (length % 4 == 0) {
        EXPECT_TRUE(ZeroFrom(coder, 0));
    } else {
        const uint32_t written = 3 * ((length + 3) / 4);
        EXPECT_NE(coder.DecodedData()[written - 1], 0);
        EXPECT_TRUE(ZeroFrom(coder, written));
    }
}

INSTANTIATE_TEST_SUITE_P(Base64, Base64Capacity,
                         testing::Values(CapacityCase{1, 4096}, CapacityCase{4095, 4096},
                                         CapacityCase{4096, 8192}, CapacityCase{4097, 8192},
                                         CapacityCase{8191, 8192}, CapacityCase{8192, 12288}));

TEST(Base64, ReusedBuffersAreZeroedAgain) {
    CBase64Coder coder;
    Decode(coder, std::string(6000, '/'));
    ASSERT_EQ(coder.OutputCapacity(), 8192u);
    Decode(coder, "TQ==");
    EXPECT_EQ(coder.OutputCapacity(), 8192u);
    EXPECT_EQ(coder.InputCapacity(), 8192u);
    EXPECT_EQ(Decoded(coder), "M");
    EXPECT_TRUE(ZeroFrom(coder, 1));
    Decode(coder, "");
    EXPECT_EQ(coder.DecodedLength(), 0u);
    EXPECT_TRUE(ZeroFrom(coder, 0));
}

TEST(Base64, BufferIsKeptWhileLargeEnough) {
    CBase64Coder coder;
    Decode(coder, "TWFu");
    ASSERT_EQ(coder.InputCapacity(), 4096u);
    // Not grown for a length equal to the capacity.
    Decode(coder, std::string(4092, 'A') + "TWFu");
    EXPECT_EQ(coder.InputCapacity(), 4096u);
    EXPECT_EQ(coder.DecodedLength(), 3072u);
    EXPECT_EQ(Decoded(coder).substr(3069), "Man");
    Decode(coder, std::string(4097, ' '));
    EXPECT_EQ(coder.InputCapacity(), 8192u);
    EXPECT_EQ(coder.DecodedLength(), 0u);
}

}  // namespace
