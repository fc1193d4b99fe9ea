#include "imaging/bayer.h"

#include "imaging/engine_state.h"

namespace jx {

std::array<std::vector<int32_t>, kBayerMatrixCount> MakeBayerMatrices() {
    std::array<std::vector<int32_t>, kBayerMatrixCount> m;
    m[0] = {0, 2, 3, 1};  // M0[0][0], M0[0][1], M0[1][0], M0[1][1]
    for (int i = 1; i < kBayerMatrixCount; ++i) {
        const int32_t e = 1 << i;  // side of the previous matrix
        const int32_t side = 2 * e;
        const std::vector<int32_t>& prev = m[static_cast<size_t>(i - 1)];
        std::vector<int32_t>& cur = m[static_cast<size_t>(i)];
        cur.resize(static_cast<size_t>(side * side));
        for (int32_t j = 0; j < side; ++j)
            for (int32_t k = 0; k < side; ++k)
                cur[static_cast<size_t>(j * side + k)] =
                    4 * prev[static_cast<size_t>((j % e) * e + k % e)] + m[0][static_cast<size_t>((j / e) * 2 + k / e)];
    }
    return m;
}

void BuildBayerMatrices(EngineState& state) { state.BayerMatrices = MakeBayerMatrices(); }

}  // namespace jx
