#include "seals/SealPicture.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <vector>

#include "core/Outcome.h"
#include "seals/SealStore.h"

namespace ref {

namespace {

bool StartsWith(ByteView data, ByteView head) {
    return data.size() >= head.size() && std::equal(head.begin(), head.end(), data.begin());
}

// BITMAPFILEHEADER (14 bytes) and at least the size field of the info header.
constexpr size_t kBmpMinimum = 18;

uint32_t Le32(ByteView data, size_t at) {
    return uint32_t{data[at]} | uint32_t{data[at + 1]} << 8 | uint32_t{data[at + 2]} << 16 |
           uint32_t{data[at + 3]} << 24;
}

struct Picture {
    int32_t type;  // of the record it came from; 1 for bare data
    Bytes bytes;
};

std::vector<Picture> Pictures(ByteView data) {
    const std::string text = AsString(data);
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || (text[first] != '{' && text[first] != '['))
        return {{1, Bytes(data.begin(), data.end())}};
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded())
        return {{1, Bytes(data.begin(), data.end())}};
    std::vector<Picture> pictures;
    const auto add = [&](const nlohmann::json& item) {
        SealRecord record = ParseSealRecord(item.dump());
        pictures.push_back({record.type, std::move(record.data)});
    };
    if (json.is_array()) {
        for (const nlohmann::json& item : json) add(item);
    } else {
        add(json);
    }
    return pictures;
}

}  // namespace

std::string SniffFormat(ByteView data) {
    static constexpr std::array<uint8_t, 8> kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (StartsWith(data, kPng))
        return "png";
    if (StartsWith(data, AsBytes("GIF87a")) || StartsWith(data, AsBytes("GIF89a")))
        return "gif";
    if (data.size() >= kBmpMinimum && StartsWith(data, AsBytes("BM")))
        return "bmp";
    if (!data.empty() && data[0] == 0x30)
        return "der";
    return "";
}

Bytes BmpPicture(ByteView data, uint32_t index) {
    std::vector<Picture> pictures = Pictures(data);
    if (index >= pictures.size()) {
        Fail(kBadParam, "the seal data holds " + std::to_string(pictures.size()) +
                            " picture(s), none numbered " + std::to_string(index));
    }
    Picture& picture = pictures[index];
    if (picture.type == 2)
        Fail(kUnsupported, "pictures in GB/T 38540 seal data cannot be extracted");
    const std::string format = SniffFormat(picture.bytes);
    if (format != "bmp") {
        Fail(kUnsupported, "the picture is " + (format.empty() ? "of unknown format" : format) +
                               ", not BMP, and no image converter is available");
    }
    if (Le32(picture.bytes, 2) > picture.bytes.size())
        Fail(kMalformed, "the BMP picture is truncated");
    return std::move(picture.bytes);
}

}  // namespace ref
