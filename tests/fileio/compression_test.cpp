#include <gtest/gtest.h>

#include <vector>

#include "fileio/graphic_compression.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes TargaDecode(uint32_t depth, const Bytes& packed, int pixels, size_t* consumed, int32_t* decoded) {
    TTargaRLEDecoder decoder(depth);
    Bytes out(size_t(pixels) * size_t(decoder.PixelSize() ? decoder.PixelSize() : 1), 0);
    const uint8_t* in = packed.data();
    uint8_t* dst = out.data();
    decoder.Decode(in, dst, int32_t(packed.size()), pixels);
    *consumed = size_t(in - packed.data());
    *decoded = decoder.DecodedCount();
    EXPECT_EQ(dst, out.data());
    return out;
}

Bytes TargaEncode(uint32_t depth, const Bytes& pixels, uint32_t count) {
    TTargaRLEDecoder codec(depth);
    Bytes out(pixels.size() * 2 + 4);
    uint32_t stored = 99;
    codec.Encode(pixels.data(), out.data(), count, stored);
    out.resize(stored);
    return out;
}

Bytes PackBits(const Bytes& packed, int unpacked, int32_t packed_size = -1) {
    Bytes out(size_t(unpacked) + 4, 0xEE);
    TPackbitsRLEDecoder decoder;
    const uint8_t* in = packed.data();
    uint8_t* dst = out.data();
    decoder.Decode(in, dst, packed_size < 0 ? int32_t(packed.size()) : packed_size, unpacked);
    EXPECT_EQ(in, packed.data());
    return out;
}

TEST(TargaRLE, DecodesPacketsWithinBothBuffers) {
    struct Case {
        uint32_t depth;
        Bytes packed;
        int pixels;
        Bytes want;
        size_t consumed;
        int32_t decoded;
    };
    const std::vector<Case> cases{
        {8, {0x82, 0x41, 0x01, 0x42, 0x43}, 5, {0x41, 0x41, 0x41, 0x42, 0x43}, 5, 5},
        {32, {0x81, 1, 2, 3, 4}, 2, {1, 2, 3, 4, 1, 2, 3, 4}, 5, 2},
        {16, {0x01, 1, 2, 3, 4}, 2, {1, 2, 3, 4}, 5, 2},
        // A run of 128 and a raw packet of 3 into room for 2 pixels: consumed whole, no overrun.
        {8, {0xFF, 0x07}, 2, {7, 7}, 2, 2},
        {8, {0x02, 1, 2, 3}, 2, {1, 2}, 4, 2},
        // A raw packet claiming 4 pixels with 2 bytes left; a run lacking its value; a depth the
        // codec does not know.
        {8, {0x81, 9, 0x03, 1, 2}, 6, {9, 9, 0, 0, 0, 0}, 2, 2},
        {24, {0x80, 1}, 1, {0, 0, 0}, 0, 0},
        {12, {0x80, 1, 2}, 1, {0}, 0, 0},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        size_t consumed = 99;
        int32_t decoded = -1;
        EXPECT_EQ(TargaDecode(cases[i].depth, cases[i].packed, cases[i].pixels, &consumed, &decoded), cases[i].want) << i;
        EXPECT_EQ(consumed, cases[i].consumed) << i;
        EXPECT_EQ(decoded, cases[i].decoded) << i;
    }
}

TEST(TargaRLE, Encodes) {
    EXPECT_EQ(TargaEncode(8, {0x41, 0x42, 0x43}, 3), (Bytes{0x02, 0x41, 0x42, 0x43}));
    EXPECT_EQ(TargaEncode(8, Bytes(5, 7), 5), (Bytes{0x84, 0x07}));
    EXPECT_EQ(TargaEncode(8, {0x41, 0x42, 0x42}, 3), (Bytes{0x00, 0x41, 0x81, 0x42}));
    EXPECT_EQ(TargaEncode(8, Bytes(300, 9), 300), (Bytes{0xFF, 9, 0xFF, 9, 0xAB, 9}));
    EXPECT_TRUE(TargaEncode(8, {1}, 0).empty());
    Bytes distinct(200);  // raw packets hold at most 128 pixels
    for (size_t i = 0; i < distinct.size(); ++i) distinct[i] = uint8_t(i);
    EXPECT_EQ(TargaEncode(8, distinct, 200).at(129), 71);
}

TEST(PackBits, Decodes) {
    EXPECT_EQ(PackBits({0xFE, 0x55}, 3), (Bytes{0x55, 0x55, 0x55, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(PackBits({0x80, 0x00, 0x09}, 1).at(0), 9);  // 0x80 is a no-op
    // A repeat longer than the output, a literal cut by the end of the input.
    EXPECT_EQ(PackBits({0x81, 0x07}, 2), (Bytes{7, 7, 0xEE, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(PackBits({0x05, 1, 2}, 6), (Bytes{1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    // A repeat header as the last byte has no value after it.
    EXPECT_EQ(PackBits({0xFE}, 3).at(0), 0xEE);
    EXPECT_EQ(PackBits({0xFE, 0x55}, 3, 0).at(0), 0xEE);
}

}  // namespace
}  // namespace jx
