#include <gtest/gtest.h>

#include <vector>

#include "fileio/graphic_compression.h"

namespace jx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes TargaDecode(uint32_t depth, const Bytes& packed, int pixels, size_t* consumed = nullptr,
                  int32_t* decoded = nullptr) {
    TTargaRLEDecoder decoder(depth);
    Bytes out(size_t(pixels) * size_t(decoder.PixelSize() ? decoder.PixelSize() : 1), 0);
    const uint8_t* in = packed.data();
    uint8_t* dst = out.data();
    decoder.Decode(in, dst, int32_t(packed.size()), pixels);
    if (consumed) *consumed = size_t(in - packed.data());
    if (decoded) *decoded = decoder.DecodedCount();
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

TEST(TargaRLE, DecodesRunAndRawPackets) {
    size_t consumed = 0;
    EXPECT_EQ(TargaDecode(8, {0x82, 0x41, 0x01, 0x42, 0x43}, 5, &consumed),
              (Bytes{0x41, 0x41, 0x41, 0x42, 0x43}));
    EXPECT_EQ(consumed, 5u);
    EXPECT_EQ(TargaDecode(24, {0x80, 1, 2, 3}, 1), (Bytes{1, 2, 3}));
    EXPECT_EQ(TargaDecode(32, {0x81, 1, 2, 3, 4}, 2), (Bytes{1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(TargaDecode(16, {0x01, 1, 2, 3, 4}, 2), (Bytes{1, 2, 3, 4}));
}

TEST(TargaRLE, PacketLongerThanTheOutputIsConsumedWholeWithoutOverrun) {
    size_t consumed = 0;
    int32_t decoded = 0;
    // A run of 128 and a raw packet of 3 into room for 2 pixels each.
    EXPECT_EQ(TargaDecode(8, {0xFF, 0x07}, 2, &consumed, &decoded), (Bytes{7, 7}));
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(TargaDecode(8, {0x02, 1, 2, 3}, 2, &consumed), (Bytes{1, 2}));
    EXPECT_EQ(consumed, 4u);
}

TEST(TargaRLE, StopsAtTheEndOfThePackedData) {
    size_t consumed = 0;
    int32_t decoded = 0;
    // The raw packet claims 4 pixels but only 2 bytes follow; a run lacks its value.
    TargaDecode(8, {0x81, 9, 0x03, 1, 2}, 6, &consumed, &decoded);
    EXPECT_EQ(consumed, 2u);
    EXPECT_EQ(decoded, 2);
    TargaDecode(24, {0x80, 1}, 1, &consumed, &decoded);
    EXPECT_EQ(consumed, 0u);
    EXPECT_EQ(decoded, 0);
    TargaDecode(12, {0x80, 1, 2}, 1, &consumed, &decoded);  // unsupported depth: no-op
    EXPECT_EQ(consumed, 0u);
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

TEST(TargaRLE, RoundTripsEveryDepth) {
    for (uint32_t depth : {8u, 15u, 16u, 24u, 32u}) {
        TTargaRLEDecoder codec(depth);
        const int s = codec.PixelSize();
        Bytes pixels;
        for (int i = 0; i < 700; ++i)
            for (int k = 0; k < s; ++k) pixels.push_back(uint8_t((i / 7 % 3 == 0 ? i : i / 50) + k));
        const Bytes packed = TargaEncode(depth, pixels, 700);
        EXPECT_EQ(TargaDecode(depth, packed, 700), pixels) << depth;
    }
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
