#!/usr/bin/env bash
# Takes a screenshot of the main window with an image quantized beside its palette, under Xvfb.
# Usage: scripts/screenshot.sh [image] [output.png] [colour count]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
image="${1:-$here/tests/data/pngsuite/png/basn2c08.png}"
out="${2:-$here/build/screenshot.png}"
colors="${3:-16}"
cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$here/build" -j4 --target jx_gui_tests >/dev/null
mkdir -p "$(dirname "$out")"
JX_SCREENSHOT_OUT="$(realpath -m "$out")" JX_SCREENSHOT_IMAGE="$(realpath "$image")" JX_SCREENSHOT_COLORS="$colors" \
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1600x900x24" \
    "$here/build/tests/jx_gui_tests" --gtest_filter=Screenshot.MainWindowWithImage
echo "screenshot: $out"
