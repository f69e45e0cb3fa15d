#include "support/CBase64Coder.h"

#include <array>
#include <cstring>

namespace {

constexpr signed char kPad = -1;
constexpr signed char kNotInAlphabet = -2;
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Past this the next 4096-byte step no longer fits in 32 bits.
constexpr uint32_t kMaxLength = 0xFFFFEFFFu;

const unsigned char kEmpty[1] = {0};

// Built on the first decode and kept until exit. Bytes with the high bit set
// decode as their low seven bits.
const std::array<signed char, 256>& DecodeTable() {
    static const std::array<signed char, 256> table = [] {
        std::array<signed char, 256> t{};
        t.fill(kNotInAlphabet);
        for (int i = 0; i < 64; ++i) {
            const auto c = static_cast<unsigned char>(kAlphabet[i]);
            t[c] = static_cast<signed char>(i);
            t[c | 0x80] = static_cast<signed char>(i);
        }
        t['='] = kPad;
        t['=' | 0x80] = kPad;
        return t;
    }();
    return table;
}

// The table value as the byte it is stored in (-1 is 0xFF, -2 is 0xFE), so
// the shifts below are defined and give the same low bits.
uint8_t Sextet(unsigned char c) {
    return static_cast<uint8_t>(DecodeTable()[c]);
}

void WriteGroup(unsigned char* out, uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    out[0] = static_cast<unsigned char>((a << 2) | ((b >> 4) & 0x03));
    out[1] = static_cast<unsigned char>(((c >> 2) & 0x0F) | (b << 4));
    out[2] = static_cast<unsigned char>((c << 6) | (d & 0x3F));
}

bool IsSkipped(unsigned char c) {
    return (c >= 0x07 && c <= 0x0D) || c == 0x20;
}

// Grows in 4096-byte steps, always to more than length, and zero-fills.
void PrepareBuffer(unsigned char*& buffer, uint32_t& capacity, uint32_t length) {
    if (capacity < length) {
        delete[] buffer;
        buffer = nullptr;
        capacity = 0;
        const uint32_t size = (length & ~0xFFFu) + 4096u;
        buffer = new unsigned char[size];
        capacity = size;
    }
    if (buffer) {
        std::memset(buffer, 0, capacity);
    }
}

}  // namespace

CBase64Coder::~CBase64Coder() {
    Release();
}

void CBase64Coder::Release() {
    delete[] m_pInBuf;
    delete[] m_pOutBuf;
    m_pInBuf = nullptr;
    m_pOutBuf = nullptr;
    m_nInCap = 0;
    m_nOutCap = 0;
    m_nInLen = 0;
    m_nOutLen = 0;
}

const unsigned char* CBase64Coder::DecodedData() const {
    return m_pOutBuf ? m_pOutBuf : kEmpty;
}

void CBase64Coder::Decode(const unsigned char* data, uint32_t length) {
    if (!data) {
        length = 0;
    }
    if (length > kMaxLength) {
        Release();
        return;
    }
    PrepareBuffer(m_pInBuf, m_nInCap, length);
    m_nInLen = 0;
    for (uint32_t k = 0; k < length; ++k) {
        if (!IsSkipped(data[k])) {
            m_pInBuf[m_nInLen++] = data[k];
        }
    }
    PrepareBuffer(m_pOutBuf, m_nOutCap, length);
    m_nOutLen = 0;

    uint32_t i = 0;
    for (; i + 4 < m_nInLen; i += 4) {
        WriteGroup(m_pOutBuf + m_nOutLen, Sextet(m_pInBuf[i]), Sextet(m_pInBuf[i + 1]),
                   Sextet(m_pInBuf[i + 2]), Sextet(m_pInBuf[i + 3]));
        m_nOutLen += 3;
    }
    if (i < m_nInLen) {
        // The capacity is a multiple of 4 above i, so i + 3 is inside the
        // zero-filled buffer even when the kept input ends before it.
        const uint8_t a = Sextet(m_pInBuf[i]);
        const uint8_t b = Sextet(m_pInBuf[i + 1]);
        uint8_t c = Sextet(m_pInBuf[i + 2]);
        uint8_t d = Sextet(m_pInBuf[i + 3]);
        uint32_t counted = 3;
        if (c == static_cast<uint8_t>(kPad)) {
            c = 0;
            d = 0;
            counted = 1;
        } else if (d == static_cast<uint8_t>(kPad)) {
            d = 0;
            counted = 2;
        }
        WriteGroup(m_pOutBuf + m_nOutLen, a, b, c, d);
        m_nOutLen += counted;
    }
}
