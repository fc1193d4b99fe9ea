#include "imaging/edge_map.h"

#include <cstdlib>

namespace jx {
namespace {

constexpr int kEdgeKernel[3][3] = {{-2, -5, -2}, {-5, 28, -5}, {-2, -5, -2}};

// Neighbour index along one axis: a missing neighbour is mirrored across the pixel itself. An
// axis one pixel long has no mirror either, so the pixel stands in for both of its neighbours.
inline int32_t Mirror(int32_t i, int32_t d, int32_t size) {
    const int32_t r = i + d;
    if (r >= 0 && r < size) return r;
    const int32_t m = i - d;
    if (m >= 0 && m < size) return m;
    return i;
}

}  // namespace

void BuildEdgeMap(EngineState& state) {
    const int32_t w = state.ImageWidth(), h = state.ImageHeight();
    state.EdgeMap.Resize(w, h, 0);
    for (int32_t y = 0; y < h; ++y) {
        const TPixelRec* rows[3];
        for (int dy = -1; dy <= 1; ++dy) rows[dy + 1] = state.SourceImage[Mirror(y, dy, h)];
        const TPixelRec* self = rows[1];
        uint8_t* out = state.EdgeMap[y];
        for (int32_t x = 0; x < w; ++x) {
            if (self[x].A == 0) {
                out[x] = 0;
                continue;
            }
            const int32_t cols[3] = {Mirror(x, -1, w), x, Mirror(x, 1, w)};
            int32_t sum = 0;
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c) sum += kEdgeKernel[r][c] * rows[r][cols[c]].c1;
            out[x] = ClampByte(std::abs(sum));
        }
    }
}

}  // namespace jx
