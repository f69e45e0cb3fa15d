// Telling picture formats apart and taking BMP pictures out of seal data.
#include <gtest/gtest.h>

#include "core/Outcome.h"
#include "seals/SealPicture.h"
#include "seals/SealStore.h"

namespace {

using ref::Bytes;

// A 1x1 24-bit BMP: file header, BITMAPINFOHEADER, one padded pixel row.
Bytes SmallBmp() {
    Bytes bmp = {
        'B', 'M', 58, 0, 0, 0, 0, 0, 0,    0,    54,   0,   0, 0,         // file header
        40,  0,   0,  0, 1, 0, 0, 0, 1,    0,    0,    0,   1, 0, 24, 0,  // size, w, h, planes, bpp
        0,   0,   0,  0, 4, 0, 0, 0, 0,    0,    0,    0,   0, 0, 0,  0,  // compression, image size
        0,   0,   0,  0, 0, 0, 0, 0, 0x00, 0x00, 0xff, 0x00};
    return bmp;
}

const Bytes kPng = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};

int32_t CodeOf(const Bytes& data, uint32_t index) {
    try {
        ref::BmpPicture(data, index);
        return ref::kOk;
    } catch (const ref::Failure& failure) {
        return failure.code();
    }
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

TEST(SealPictureTest, SniffsTheFormats) {
    const struct {
        Bytes data;
        const char* format;
    } cases[] = {
        {SmallBmp(), "bmp"},
        {kPng, "png"},
        {Text("GIF89a..."), "gif"},
        {Text("GIF87a..."), "gif"},
        {Bytes{0x30, 0x82, 1, 0}, "der"},
        {Bytes{0xff, 0xd8, 0xff}, ""},
        {Text("BM"), ""},
        {Bytes{}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ref::SniffFormat(c.data), c.format);
}

TEST(SealPictureTest, BmpIsGivenBackAsIs) {
    EXPECT_EQ(ref::BmpPicture(SmallBmp(), 0), SmallBmp());
    const std::string record = ref::SealRecordJson({"s", 1, "bmp", "", SmallBmp()}, true);
    EXPECT_EQ(ref::BmpPicture(Text(record), 0), SmallBmp());
}

TEST(SealPictureTest, IndexSelectsAPictureOfSeveral) {
    Bytes second = SmallBmp();
    second.back() = 0x7f;
    const std::string list = "[" + ref::SealRecordJson({"a", 1, "", "", SmallBmp()}, true) + "," +
                             ref::SealRecordJson({"b", 1, "", "", second}, true) + "]";
    EXPECT_EQ(ref::BmpPicture(Text(list), 0), SmallBmp());
    EXPECT_EQ(ref::BmpPicture(Text(list), 1), second);
    EXPECT_EQ(CodeOf(Text(list), 2), ref::kBadParam);
}

TEST(SealPictureTest, WhatCannotBeServedAsBmp) {
    Bytes truncated = SmallBmp();
    truncated.resize(40);
    const std::string gm = ref::SealRecordJson({"gm", 2, "der", "", {0x30, 0}}, true);
    EXPECT_EQ(CodeOf(kPng, 0), ref::kUnsupported);
    EXPECT_EQ(CodeOf(Text("GIF89a......"), 0), ref::kUnsupported);
    EXPECT_EQ(CodeOf(Text(gm), 0), ref::kUnsupported);
    EXPECT_EQ(CodeOf(truncated, 0), ref::kMalformed);
    EXPECT_EQ(CodeOf(SmallBmp(), 1), ref::kBadParam);
    EXPECT_EQ(CodeOf(Text(R"({"v":9})"), 0), ref::kMalformed);
}

}  // namespace
