#!/bin/sh
# Builds the libFuzzer targets of the image readers with clang; the normal
# build does not need clang. Usage: fuzz/build.sh [output folder]
# Run one with e.g.: build-fuzz/fuzz_tga -max_total_time=300 fuzz/corpus/tga
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
out=${1:-$root/build-fuzz}
mkdir -p "$out"
cxx=${CXX_FUZZ:-clang++}
flags="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$root/src"
sources="bitmap graphic_color graphic_compression format_graphic targa_graphic ppm_graphic psd_graphic preview_resample"
objs=""
for s in $sources; do
    $cxx $flags -fsanitize=fuzzer-no-link -c "$root/src/fileio/$s.cpp" -o "$out/$s.o"
    objs="$objs $out/$s.o"
done
for target in tga ppm psd; do
    $cxx $flags -I"$here" "$here/fuzz_$target.cpp" $objs -o "$out/fuzz_$target"
done
echo "built: $out/fuzz_tga $out/fuzz_ppm $out/fuzz_psd"
