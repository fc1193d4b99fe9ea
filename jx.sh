#!/usr/bin/env bash
# Sets up, builds the two programs (the window and the optimiser it runs) and starts the window
# program with the arguments given.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/deps.sh"
echo "== configuring $here/build"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
echo "== building jx and quillox"
cmake --build "$here/build" -j "$(nproc)" --target jx quillox
exec "$here/build/bin/jx" "$@"
