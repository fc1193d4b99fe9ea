#!/bin/sh
# Builds the libFuzzer targets of the image readers with clang (the normal build does not need
# clang): the libraries are built with the fuzzer's coverage and the address and
# undefined-behaviour sanitizers, so the targets always follow the sources.
# Usage: fuzz/build.sh [build folder]; the targets land in <build folder>/fuzz.
# Run one with e.g.: build-fuzz/fuzz/fuzz_bmp -max_total_time=300 new-units/ fuzz/corpus/bmp
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:-$root/build-fuzz}
launcher=""
if command -v ccache >/dev/null 2>&1; then
    launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache"
fi
# shellcheck disable=SC2086
cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER="${CC_FUZZ:-clang}" \
    -DCMAKE_CXX_COMPILER="${CXX_FUZZ:-clang++}" -DJX_FUZZ=ON -DJX_BUILD_GUI=OFF -DJX_BUILD_TESTS=OFF \
    -DJX_BUILD_BENCH=OFF $launcher >/dev/null
targets=$(sed -n 's/^set(JX_FUZZ_TARGETS \(.*\))$/\1/p' "$here/CMakeLists.txt")
set --
for t in $targets; do set -- "$@" "fuzz_$t"; done
cmake --build "$out" -j "${JOBS:-$(nproc)}" --target "$@"
echo "built in $out/fuzz: $*"
