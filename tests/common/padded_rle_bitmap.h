#pragma once
// Run-length bitmaps coded the way a common converter writes them: every row over its stored
// width (rounded up to 32 bits), the padding pixels painted too, then an end of line.
#include <cstdint>
#include <vector>

#include "common/test_data.h"

namespace jx::test {

struct TPaddedRleBitmap {
    std::vector<uint8_t> File;
    int32_t Width = 0, Height = 0;
    std::vector<uint8_t> Index;  // what the image holds, top row first, Width x Height
    // The colour table: index i is red 60 * i, green 255 - 60 * i, blue 7 * i.
    static uint32_t Rgb(uint8_t i) { return uint32_t(60 * i) << 16 | uint32_t(255 - 60 * i) << 8 | uint32_t(7 * i); }
};

// Rows alternate between two shapes so that both a run and an absolute block end in the padding:
// block, run, block / run, block, run. Indices cycle through 1..4.
inline TPaddedRleBitmap PaddedRleBitmap(int32_t width, int32_t height, bool four) {
    const int32_t stored = four ? (width + 7) / 8 * 8 : (width + 3) / 4 * 4;
    TPaddedRleBitmap r;
    r.Width = width;
    r.Height = height;
    r.Index.assign(size_t(width) * size_t(height), 0);
    std::vector<uint8_t> codes;
    for (int32_t y = 0; y < height; ++y) {  // bottom row first
        std::vector<uint8_t> row(static_cast<size_t>(stored));
        auto put = [&](int32_t at, uint8_t v) {
            row[size_t(at)] = v;
            if (at < width) r.Index[size_t(height - 1 - y) * size_t(width) + size_t(at)] = v;
        };
        auto run = [&](int32_t from, int32_t to) {
            const uint8_t a = uint8_t(1 + (y + from) % 4), b = uint8_t(four ? 1 + (y + from + 1) % 4 : a);
            for (int32_t x = from; x < to; ++x) put(x, (x - from) % 2 ? b : a);
            codes.insert(codes.end(), {uint8_t(to - from), uint8_t(four ? a << 4 | b : a)});
        };
        auto block = [&](int32_t from, int32_t to) {
            const int32_t n = to - from;
            codes.insert(codes.end(), {0, uint8_t(n)});
            std::vector<uint8_t> bytes;
            for (int32_t x = from; x < to; ++x) {
                const uint8_t v = uint8_t(1 + (x * 3 + y) % 4);
                put(x, v);
                if (!four) bytes.push_back(v);
                else if ((x - from) % 2 == 0) bytes.push_back(uint8_t(v << 4));
                else bytes.back() |= v;
            }
            if (bytes.size() % 2) bytes.push_back(0);
            codes.insert(codes.end(), bytes.begin(), bytes.end());
        };
        if (y % 2 == 0) {
            block(0, 100);
            run(100, 300);
            block(300, stored);
        } else {
            run(0, 100);
            block(100, 300);
            run(300, stored);
        }
        codes.insert(codes.end(), {0, 0});
    }
    codes.insert(codes.end(), {0, 1});

    const uint32_t colors = 5, offset = 14 + 40 + 4 * colors;
    auto& b = r.File;
    b = {'B', 'M'};
    for (uint32_t v : {offset + uint32_t(codes.size()), 0u, offset, 40u, uint32_t(width), uint32_t(height)}) Put32(b, v);
    Put16(b, 1);
    Put16(b, four ? 4 : 8);
    for (uint32_t v : {four ? 2u : 1u, uint32_t(codes.size()), 2835u, 2835u, colors, 0u}) Put32(b, v);
    for (uint8_t i = 0; i < colors; ++i) {
        const uint32_t c = TPaddedRleBitmap::Rgb(i);
        b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0});
    }
    b.insert(b.end(), codes.begin(), codes.end());
    return r;
}

}  // namespace jx::test
