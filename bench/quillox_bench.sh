#!/usr/bin/env bash
# Runs quillox at each level over copies of PNG files and prints total bytes, wall time and CPU
# time per run, with optipng's default level beside it as a peer.
#
# Usage: bench/quillox_bench.sh [folder|--suite] [quillox binary]
#   folder   the PNG files of that folder
#   --suite  the conformance suite, with the colour-type, fill and reduction variants
#   (none)   real images: desktop-base and plasma-workspace-wallpapers are fetched with
#            apt-get download and unpacked into a temporary folder (never installed); two sets
#            are timed: a mix of icons, logos, screenshots and photographs (every 8th PNG under
#            2.6 MB by size), and three 3840 x 2160 wallpapers.
# optipng is installed with apt-get when missing (root only); it is a baseline, nothing more.
# QUILLOX_BENCH_LEVELS (default "1 2 3 4") picks the levels.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arg="${1:-}"
bin="${2:-$here/build/bin/quillox}"
[ -x "$bin" ] || { echo "quillox not built: $bin" >&2; exit 1; }
levels="${QUILLOX_BENCH_LEVELS:-1 2 3 4}"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

if ! command -v optipng >/dev/null && [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq optipng >/dev/null 2>&1 || true
fi

total_bytes() { find "$1" -type f -iname '*.png' -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }

# run LABEL CMD...: a fresh copy of the set in $work/run, then the command timed over it.
run() {
    local label="$1"
    shift
    rm -rf "$work/run"
    mkdir "$work/run"
    local i=0
    for f in "${files[@]}"; do
        # Files of the same name from different folders must not collide.
        cp "$f" "$work/run/$(printf '%03d' $i)_$(basename "$f")"
        i=$((i + 1))
    done
    local times
    times=$({ TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1 || true; } 2>&1)
    read -r wall user sys <<<"$times"
    printf '%-22s %12s %9.2f %9.2f\n' "$label" "$(total_bytes "$work/run")" "$wall" "$(echo "$user + $sys" | bc)"
}

header() {
    echo
    echo "$1: ${#files[@]} files"
    printf '%-22s %12s %9s %9s\n' "run" "bytes" "wall s" "cpu s"
    local sum=0
    for f in "${files[@]}"; do sum=$((sum + $(stat -c %s "$f"))); done
    printf '%-22s %12s %9s %9s\n' "input" "$sum" "-" "-"
}

peer() {
    if command -v optipng >/dev/null; then
        run "optipng (default -o2)" optipng -quiet "$work"/run/*.png
    else
        echo "optipng not available: no peer figures"
    fi
}

levels_and_peer() {
    for level in $levels; do
        run "quillox /o$level" "$bin" /quiet /y "/o$level" "$work/run/*.png"
    done
    peer
}

if [ "$arg" = "--suite" ] || [ -n "$arg" ]; then
    src="$arg"
    [ "$arg" = "--suite" ] && src="$here/tests/data/pngsuite/png"
    # Damaged suite files (x*.png) are refused by every optimiser; they would only add noise.
    mapfile -t files < <(find "$src" -maxdepth 1 -type f -iname '*.png' ! -name 'x*' | sort)
    [ "${#files[@]}" -gt 0 ] || { echo "no PNG files in $src" >&2; exit 1; }
    header "$src"
    run "quillox /o0" "$bin" /quiet /y /o0 "$work/run/*.png"
    levels_and_peer
    if [ "$arg" = "--suite" ]; then
        # Chunks removed (as /o4 does); the input's colour type kept (/nc); transparent fills; reduction.
        run "quillox /o2 -chunks" "$bin" /quiet /y /o2 /md remove all "$work/run/*.png"
        run "quillox /o2 /nc" "$bin" /quiet /y /o2 /nc "$work/run/*.png"
        run "quillox /o2 /a1" "$bin" /quiet /y /o2 /a1 "$work/run/*.png"
        run "quillox /jx" "$bin" /quiet /y /jx "$work/run/*.png"
    fi
    exit 0
fi

mkdir -p "$work/deb" "$work/x"
(cd "$work/deb" && apt-get download desktop-base plasma-workspace-wallpapers >/dev/null 2>&1) ||
    { echo "apt-get download failed" >&2; exit 1; }
for d in "$work"/deb/*.deb; do dpkg-deb -x "$d" "$work/x"; done

mapfile -t files < <(find "$work/x" -type f -iname '*.png' -size -2600k -printf '%s %p\n' | sort -n |
    awk 'NR % 8 == 0 {print $2}')
header "mixed real PNGs"
levels_and_peer

mapfile -t files < <(find "$work/x/usr/share/wallpapers" -type f -name '3840x2160.png' -printf '%s %p\n' |
    sort -n | head -3 | awk '{print $2}')
header "3840 x 2160 wallpapers"
levels_and_peer
