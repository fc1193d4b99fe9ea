#!/bin/sh
# A common PNG quantizer on the same file, as a yardstick beside open_bench: its whole job
# (decode, palette, dither, encode) at 256 colours with its default dithering, one run, wall time
# and peak memory. Benchmark only: nothing in the build or the tests needs it.
#   bench/peer_quantizer.sh IMAGE.png
set -e
[ -n "$1" ] || { echo "usage: $0 IMAGE.png" >&2; exit 2; }
command -v pngquant >/dev/null || { echo "pngquant is not installed (apt-get install pngquant)" >&2; exit 1; }
out=$(mktemp --suffix=.png)
trap 'rm -f "$out"' EXIT
/usr/bin/time -f "peer quantizer: wall %e s  peak RSS %M KB" pngquant --force --output "$out" 256 "$1"
