#pragma once
// Builders and checks shared by the bitmap buffer tests.
#include <gtest/gtest.h>

#include <cstring>

#include "imaging/dib_buffer.h"

namespace jx::test {

// 16 bits as 5-6-5 so that every bit belongs to a channel.
inline void MakeDib(TDibBuffer& b, int w, int h, int bpp) {
    if (bpp == 16)
        b.SetSizeBitfields(nullptr, w, 5, 6, 5, 16, h);
    else
        b.SetSize(w, h, bpp);
}

inline void FillBytes(TDibBuffer& b, uint8_t v) {
    for (int y = 0; y < b.AbsHeight(); ++y) std::memset(b.Line(y), v, static_cast<size_t>(b.RowStride() - b.RowGap()));
}

// Every pixel byte lies in lo..hi.
inline ::testing::AssertionResult BytesWithin(const TDibBuffer& b, int lo, int hi) {
    for (int y = 0; y < b.AbsHeight(); ++y)
        for (int i = 0; i < b.RowStride() - b.RowGap(); ++i) {
            const int v = b.Line(y)[i];
            if (v < lo || v > hi)
                return ::testing::AssertionFailure() << "byte " << i << " of row " << y << " is " << v;
        }
    return ::testing::AssertionSuccess();
}

}  // namespace jx::test
