// Temporary body: a flat map of the image's shape. The edge-map build replaces this file.
#include "imaging/edge_map.h"

namespace jx {

void BuildEdgeMap(EngineState& state) { state.EdgeMap.Resize(state.ImageWidth(), state.ImageHeight(), 0); }

}  // namespace jx
