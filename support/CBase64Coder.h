#pragma once
// A tolerant Base64 decoder: skips white space and never rejects a byte.

#include <cstdint>

class CBase64Coder {
  public:
    CBase64Coder() = default;
    virtual ~CBase64Coder();
    CBase64Coder(const CBase64Coder&) = delete;
    CBase64Coder& operator=(const CBase64Coder&) = delete;

    void Decode(const unsigned char* data, uint32_t length);
    // The decoded bytes, zero-filled behind the last group written; an empty
    // string before the first decode.
    const unsigned char* DecodedData() const;
    uint32_t DecodedLength() const { return m_nOutLen; }

    // Buffer sizes in bytes, for tests of the growth rule.
    uint32_t InputCapacity() const { return m_nInCap; }
    uint32_t OutputCapacity() const { return m_nOutCap; }

  private:
    void Release();

    unsigned char* m_pOutBuf = nullptr;
    unsigned char* m_pInBuf = nullptr;
    uint32_t m_nOutCap = 0;
    uint32_t m_nInCap = 0;
    uint32_t m_nOutLen = 0;
    uint32_t m_nInLen = 0;
};
