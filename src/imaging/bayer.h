#pragma once
// Ordered-dither index matrices.
#include <array>
#include <cstdint>
#include <vector>

namespace jx {

struct EngineState;

inline constexpr int32_t kBayerMatrixCount = 4;  // sides 2, 4, 8, 16

// The four matrices (side = 2 << i); M[first][second] is stored at first * side + second, and a
// pixel in column x, row y uses M[x mod side][y mod side]. Each holds 0..side*side-1 once.
std::array<std::vector<int32_t>, kBayerMatrixCount> MakeBayerMatrices();

// Fills state.BayerMatrices.
void BuildBayerMatrices(EngineState& state);

}  // namespace jx
