#!/usr/bin/env bash
# Sets up, builds and starts the window program with the arguments given.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
"$here/scripts/deps.sh"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j "$(nproc)" >/dev/null
exec "$here/build/bin/jx" "$@"
