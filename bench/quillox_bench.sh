#!/usr/bin/env bash
# Runs quillox at each level over copies of a folder of PNG files and prints the total bytes
# and wall time, with the colour-type trials off (/nc), the transparent-pixel fills (/a1) and
# colour reduction (/jx); optipng -o2 and -o5 run beside it on the same files when installed.
# Usage: bench/quillox_bench.sh [folder] [quillox binary]
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
src="${1:-$here/tests/data/pngsuite/png}"
bin="${2:-$here/build/bin/quillox}"
[ -x "$bin" ] || { echo "quillox not built: $bin" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Damaged suite files (x*.png) are refused by every optimiser; they would only add noise.
mapfile -t files < <(find "$src" -maxdepth 1 -type f -iname '*.png' ! -name 'x*' | sort)
[ "${#files[@]}" -gt 0 ] || { echo "no PNG files in $src" >&2; exit 1; }

total_bytes() { find "$1" -type f -iname '*.png' -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
fresh_copy() { rm -rf "$work/run"; mkdir "$work/run"; cp "${files[@]}" "$work/run/"; }

fresh_copy
printf '%-16s %12s %10s\n' "run" "bytes" "seconds"
printf '%-16s %12s %10s\n' "input" "$(total_bytes "$work/run")" "-"

run() {
    local label="$1"
    shift
    fresh_copy
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    printf '%-16s %12s %10.2f\n' "$label" "$(total_bytes "$work/run")" "$(echo "$end - $start" | bc)"
}

for level in 0 1 2 3 4; do
    run "quillox /o$level" "$bin" /quiet /y "/o$level" "$work/run/*.png"
done
# Chunks removed (as /o4 does); the input's colour type kept (/nc); transparent fills; reduction.
run "quillox /o2 -chunks" "$bin" /quiet /y /o2 /md remove all "$work/run/*.png"
run "quillox /o2 /nc" "$bin" /quiet /y /o2 /nc "$work/run/*.png"
run "quillox /o2 /a1" "$bin" /quiet /y /o2 /a1 "$work/run/*.png"
run "quillox /jx" "$bin" /quiet /y /jx "$work/run/*.png"
if command -v optipng >/dev/null; then
    run "optipng -o2" optipng -quiet -o2 "$work"/run/*.png
    run "optipng -o5" optipng -quiet -o5 "$work"/run/*.png
else
    echo "optipng not installed: no comparison"
fi
