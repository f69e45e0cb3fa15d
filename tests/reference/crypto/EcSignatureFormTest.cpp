// The DER and r || s forms of EC signatures, on hand-made encodings.

#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "crypto/CryptoTestSupport.h"
#include "crypto/RawSignature.h"

namespace ref::test {
namespace {

Bytes Hex(const char* text) {
    std::optional<Bytes> bytes = HexDecode(text);
    if (!bytes) {
        throw std::invalid_argument(std::string("bad hex in the test: ") + text);
    }
    return *bytes;
}

std::string Zeros(int bytes) {
    return std::string(static_cast<size_t>(bytes) * 2, '0');
}

struct FormCase {
    const char* name;
    std::string der;
    std::string rs;
};

void PrintTo(const FormCase& c, std::ostream* os) {
    *os << c.name;
}

class EcFormTest : public testing::TestWithParam<FormCase> {};

TEST_P(EcFormTest, ConvertsBothWays) {
    const FormCase& c = GetParam();
    EXPECT_EQ(HexEncode(EcDerToRs(Hex(c.der.c_str()), c.rs.size() / 4)), c.rs);
    EXPECT_EQ(HexEncode(EcRsToDer(Hex(c.rs.c_str()))), c.der);
}

const FormCase kFormCases[] = {
    // Short values are left-padded to the half size.
    {"SmallValues", "3006020101020102", Zeros(31) + "01" + Zeros(31) + "02"},
    // A high bit needs DER's leading zero, r || s does not.
    {"HighBitR", "3026022100" + std::string("80") + Zeros(31) + "020101",
     "80" + Zeros(31) + Zeros(31) + "01"},
    {"P521Halves", "3006020107020109", Zeros(65) + "07" + Zeros(65) + "09"},
};

INSTANTIATE_TEST_SUITE_P(Forms, EcFormTest, testing::ValuesIn(kFormCases), CaseName());

struct BadFormCase {
    const char* name;
    const char* der;
    size_t half;
};

void PrintTo(const BadFormCase& c, std::ostream* os) {
    *os << c.name;
}

class EcBadDerTest : public testing::TestWithParam<BadFormCase> {};

TEST_P(EcBadDerTest, IsMalformed) {
    const BadFormCase& c = GetParam();
    try {
        EcDerToRs(Hex(c.der), c.half);
        FAIL() << "accepted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), kMalformed);
    }
}

const BadFormCase kBadDer[] = {
    {"Empty", "", 32},
    {"TrailingByte", "300602010102010200", 32},
    {"NotASequence", "3106020101020102", 32},
    {"NegativeR", "30060201FF020102", 32},
    {"RLongerThanHalf", "300702020101020102", 1},
    {"Truncated", "30060201010201", 32},
};

INSTANTIATE_TEST_SUITE_P(Bad, EcBadDerTest, testing::ValuesIn(kBadDer), CaseName());

TEST(EcRsToDerTest, OddOrEmptyIsMalformed) {
    for (size_t size : {0u, 1u, 63u}) {
        try {
            EcRsToDer(Bytes(size, 1));
            FAIL() << size << " bytes accepted";
        } catch (const Failure& failure) {
            EXPECT_EQ(failure.code(), kMalformed);
        }
    }
}

}  // namespace
}  // namespace ref::test
