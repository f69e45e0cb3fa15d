// CBase64Coder: any input against a model of the decoding rules (counted
// bytes, the uncounted bytes of the last group, zeros behind them), the same
// input again on a coder that has decoded before, and the round trip of the
// input's bytes through mbed TLS's encoder with white space put in. Where
// mbed TLS also accepts the text as canonical Base64, both decoders agree.

#include <mbedtls/base64.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzCheck.h"
#include "support/CBase64Coder.h"

namespace {

bool Skipped(unsigned char c) {
    return (c >= 0x07 && c <= 0x0D) || c == 0x20;
}

std::array<uint8_t, 256> ModelTable() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::array<uint8_t, 256> t;
    t.fill(0xFE);
    for (int i = 0; i < 64; ++i) {
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<uint8_t>(i);
        t[static_cast<unsigned char>(kAlphabet[i]) | 0x80] = static_cast<uint8_t>(i);
    }
    t['='] = t['=' | 0x80] = 0xFF;
    return t;
}

struct ModelOutput {
    std::string written;  // every byte written, the uncounted ones of the last group too
    size_t counted = 0;
};

ModelOutput ModelDecode(const uint8_t* data, size_t size) {
    static const std::array<uint8_t, 256> table = ModelTable();
    std::string kept;
    for (size_t k = 0; k < size; ++k) {
        if (!Skipped(data[k])) {
            kept.push_back(static_cast<char>(data[k]));
        }
    }
    auto at = [&](size_t i) {
        return table[i < kept.size() ? static_cast<unsigned char>(kept[i]) : 0];
    };
    auto group = [](std::string& out, unsigned a, unsigned b, unsigned c, unsigned d) {
        out.push_back(static_cast<char>(((a << 2) | ((b >> 4) & 0x03)) & 0xFF));
        out.push_back(static_cast<char>((((c >> 2) & 0x0F) | (b << 4)) & 0xFF));
        out.push_back(static_cast<char>(((c << 6) | (d & 0x3F)) & 0xFF));
    };
    ModelOutput model;
    size_t i = 0;
    for (; i + 4 < kept.size(); i += 4) {
        group(model.written, at(i), at(i + 1), at(i + 2), at(i + 3));
    }
    model.counted = model.written.size();
    if (i < kept.size()) {
        unsigned c = at(i + 2);
        unsigned d = at(i + 3);
        size_t n = 3;
        if (c == 0xFF) {
            c = d = 0;
            n = 1;
        } else if (d == 0xFF) {
            d = 0;
            n = 2;
        }
        group(model.written, at(i), at(i + 1), c, d);
        model.counted += n;
    }
    return model;
}

void CheckAgainstModel(const CBase64Coder& coder, const ModelOutput& model, size_t inputSize) {
    FUZZ_CHECK(coder.DecodedLength() == model.counted);
    const auto* out = coder.DecodedData();
    FUZZ_CHECK(std::memcmp(out, model.written.data(), model.written.size()) == 0);
    if (inputSize == 0) {
        FUZZ_CHECK(out[0] == 0);
        return;
    }
    FUZZ_CHECK(coder.InputCapacity() > inputSize && coder.InputCapacity() % 4096 == 0);
    FUZZ_CHECK(coder.OutputCapacity() > model.written.size());
    for (size_t k = model.written.size(); k < coder.OutputCapacity(); ++k) {
        FUZZ_CHECK(out[k] == 0);
    }
}

std::string Encode(const uint8_t* data, size_t size) {
    size_t needed = 0;
    mbedtls_base64_encode(nullptr, 0, &needed, data, size);
    std::string text(needed, '\0');
    size_t written = 0;
    FUZZ_CHECK(mbedtls_base64_encode(reinterpret_cast<unsigned char*>(text.data()), text.size(),
                                     &written, data, size) == 0);
    text.resize(written);
    return text;
}

// White space after every `every`-th character, chosen by the input.
std::string Spaced(const std::string& text, unsigned every) {
    static const char kSpaces[] = " \t\n\r\x07\x08\x0b\x0c";
    std::string out;
    for (size_t k = 0; k < text.size(); ++k) {
        out.push_back(text[k]);
        if (every != 0 && k % every == every - 1) {
            out.push_back(kSpaces[k % 8]);
        }
    }
    return out;
}

void Decode(CBase64Coder& coder, const std::string& text) {
    coder.Decode(reinterpret_cast<const unsigned char*>(text.data()),
                 static_cast<uint32_t>(text.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ModelOutput model = ModelDecode(data, size);
    CBase64Coder fresh;
    fresh.Decode(data, static_cast<uint32_t>(size));
    CheckAgainstModel(fresh, model, size);

    // Buffers kept from the inputs before, larger or smaller.
    static CBase64Coder reused;
    reused.Decode(data, static_cast<uint32_t>(size));
    CheckAgainstModel(reused, model, size);

    const std::string text = Encode(data, size);
    CBase64Coder trip;
    Decode(trip, Spaced(text, size > 0 ? data[0] % 9 : 0));
    FUZZ_CHECK(trip.DecodedLength() == size);
    FUZZ_CHECK(std::memcmp(trip.DecodedData(), data, size) == 0);
    FUZZ_CHECK(trip.DecodedData()[size] == 0);  // canonical text leaves nothing behind

    // The input itself as text: where mbed TLS takes it as padded Base64,
    // the bytes are the same.
    size_t kept = 0;
    for (size_t k = 0; k < size; ++k) {
        kept += Skipped(data[k]) ? 0 : 1;
    }
    std::vector<unsigned char> theirs(size + 3);
    size_t theirLength = 0;
    if (kept % 4 == 0 &&
        mbedtls_base64_decode(theirs.data(), theirs.size(), &theirLength, data, size) == 0) {
        FUZZ_CHECK(fresh.DecodedLength() == theirLength);
        FUZZ_CHECK(std::memcmp(fresh.DecodedData(), theirs.data(), theirLength) == 0);
    }
    return 0;
}
