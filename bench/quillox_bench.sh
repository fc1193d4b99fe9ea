#!/usr/bin/env bash
# Runs quillox at each level over copies of PNG files and prints total bytes, wall time and CPU
# time per run, with optipng's default level beside it as a peer.
#
# Usage: bench/quillox_bench.sh [folder|--suite] [quillox binary]
#   folder   the PNG files of that folder
#   --suite  the conformance suite, with the colour-type, fill and reduction variants
#   (none)   real images: desktop-base and plasma-workspace-wallpapers are fetched with
#            apt-get download and unpacked into a temporary folder (never installed); three sets
#            are timed: a mix of icons, logos, screenshots and photographs (every 8th PNG under
#            2.6 MB by size), three 3840 x 2160 wallpapers, and the large indexed set below.
#   --large  only the large indexed set: two photographs of plasma-workspace-wallpapers,
#            resampled and quantized by jx (build/bench/quantized_png) to 256 and 16 colours
#            at 4096 x 4096 and 1920 x 1080, written as jx hands them to quillox; each file is
#            timed alone at /o1 and /o4 (the levels jx runs) beside optipng -o2.
# optipng is installed with apt-get when missing (root only); it is a baseline, nothing more.
# QUILLOX_BENCH_LEVELS (default "1 2 3 4") picks the levels. QUILLOX_BENCH_KEEP=DIR keeps every
# run's output files in DIR/<run> (to compare two builds' outputs with cmp).
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
    last_wall="$wall"
    printf '%-22s %12s %9.2f %9.2f\n' "$label" "$(total_bytes "$work/run")" "$wall" "$(echo "$user + $sys" | bc)"
    if [ -n "${QUILLOX_BENCH_KEEP:-}" ]; then
        local keep="$QUILLOX_BENCH_KEEP/$(echo "$set_name $label" | tr -c 'A-Za-z0-9.\n-' '_')"
        mkdir -p "$keep"
        cp "$work"/run/* "$keep"/
    fi
}

header() {
    set_name="$1"
    echo
    echo "$1: ${#files[@]} files (load average $(cut -d' ' -f1-3 /proc/loadavg))"
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

if [ "$arg" != "--large" ] && [ -n "$arg" ]; then
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

# large_indexed: the pictures jx saves most, one file at a time, with the wall-time ratios to
# optipng -o2 that matter when a save waits for quillox.
large_indexed() {
    local driver="$here/build/bench/quantized_png"
    [ -x "$driver" ] || { echo "bench driver not built: $driver" >&2; exit 1; }
    local wp="$work/x/usr/share/wallpapers" big="$work/large"
    mkdir -p "$big"
    # name, photograph, width, height, colours, dithering
    local wanted=(
        "path-4096-256 Path 4096 4096 256 none"
        "path-4096-256-fs Path 4096 4096 256 fs"
        "path-4096-16-fs Path 4096 4096 16 fs"
        "cups-1920-256-fs ColorfulCups 1920 1080 256 fs"
        "cups-1920-16 ColorfulCups 1920 1080 16 none"
    )
    local item name photo w h n dither
    for item in "${wanted[@]}"; do
        read -r name photo w h n dither <<<"$item"
        "$driver" "$wp/$photo/contents/images/2560x1600.jpg" "$w" "$h" "$n" "$dither" "$big/$name.png" ||
            { echo "cannot write $name" >&2; exit 1; }
    done
    local f o1 o4
    for f in "$big"/*.png; do
        files=("$f")
        header "large indexed $(basename "$f" .png)"
        run "quillox /o1" "$bin" /quiet /y /o1 "$work/run/*.png"
        o1="$last_wall"
        run "quillox /o4" "$bin" /quiet /y /o4 "$work/run/*.png"
        o4="$last_wall"
        if command -v optipng >/dev/null; then
            run "optipng -o2" optipng -quiet -o2 "$work"/run/*.png
            echo "wall /o1 : optipng -o2 = $(echo "scale=2; $o1 / $last_wall" | bc)," \
                "/o4 : optipng -o2 = $(echo "scale=2; $o4 / $last_wall" | bc)"
        else
            echo "optipng not available: no peer figures"
        fi
    done
}

mkdir -p "$work/deb" "$work/x"
packages="desktop-base plasma-workspace-wallpapers"
[ "$arg" = "--large" ] && packages="plasma-workspace-wallpapers"
# shellcheck disable=SC2086
(cd "$work/deb" && apt-get download $packages >/dev/null 2>&1) ||
    { echo "apt-get download failed" >&2; exit 1; }
for d in "$work"/deb/*.deb; do dpkg-deb -x "$d" "$work/x"; done

if [ "$arg" = "--large" ]; then
    large_indexed
    exit 0
fi

mapfile -t files < <(find "$work/x" -type f -iname '*.png' -size -2600k -printf '%s %p\n' | sort -n |
    awk 'NR % 8 == 0 {print $2}')
header "mixed real PNGs"
levels_and_peer

mapfile -t files < <(find "$work/x/usr/share/wallpapers" -type f -name '3840x2160.png' -printf '%s %p\n' |
    sort -n | head -3 | awk '{print $2}')
header "3840 x 2160 wallpapers"
levels_and_peer

large_indexed
