#pragma once
// The edge map that "Bypass edges" reads.
#include "imaging/engine_state.h"

namespace jx {

// Rewrites EdgeMap from the c1 of SourceImage.
void BuildEdgeMap(EngineState& state);

}  // namespace jx
