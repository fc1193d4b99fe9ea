#pragma once
// Adam7 pass geometry shared by the writer and the reader's row scan.
#include <cstdint>
#include <utility>

namespace jx::pngenc {

struct PassInfo {
    uint32_t x0, y0, dx, dy;
};

inline constexpr PassInfo kAdam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                       {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

// Pixels per row and rows of a pass (either may be 0: the pass is then absent).
inline std::pair<uint32_t, uint32_t> PassSize(const PassInfo& p, uint32_t width, uint32_t height) {
    uint32_t pw = width > p.x0 ? uint32_t((uint64_t(width) - p.x0 + p.dx - 1) / p.dx) : 0;
    uint32_t ph = height > p.y0 ? uint32_t((uint64_t(height) - p.y0 + p.dy - 1) / p.dy) : 0;
    return {pw, ph};
}

}  // namespace jx::pngenc
