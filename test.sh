#!/usr/bin/env bash
# Builds everything twice (optimised, then with address and undefined-behaviour sanitizers)
# and runs every test through CTest; then builds the fuzz targets of the readers and runs each
# over its seeds and a few seconds of new inputs. Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/deps.sh

jobs=$(nproc)
run_build() {
    local dir=$1; shift
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 600 -LE x11)
    # Capture and hot keys need a real X server of their own (one test at a time: they share it).
    (cd "$dir" && JX_REQUIRE_X11=1 xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" \
        ctest --output-on-failure --timeout 600 -L x11)
}

echo "== optimised build"
run_build build

echo "== sanitizer build"
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export JX_SANITIZER_BUILD=1
run_build build-asan -DJX_SANITIZE=ON -DJX_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== fuzz targets"
./fuzz/build.sh build-fuzz
./fuzz/run.sh build-fuzz 5
