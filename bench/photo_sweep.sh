#!/usr/bin/env bash
# Picture quality of the adaptive palette on grainy photographs, for several pre-merge bounds,
# beside a common quantizer run on the same files.
#
# Usage: bench/photo_sweep.sh [build dir]
# Photographs come from plasma-workspace-wallpapers, fetched with apt-get download and unpacked
# into a temporary folder (the package is neither installed nor kept); each is scaled up to every size and given
# camera-like grain (Gaussian, about 4 levels RMS per channel) with ImageMagick; open_bench's
# synthetic photograph (grain of +-8) runs beside them. Per picture and size, palette_sweep builds
# the palette at each bound and colour count and measures PSNR without dithering and with
# Floyd-Steinberg; pngquant runs at the same counts with --nofs and with its default dithering
# (it and ImageMagick are installed with apt-get when missing; pngquant is a baseline, nothing
# more). The last table is the mean PSNR per size, bound, count and dithering, and its distance
# to the peer's. The whole default sweep takes the better part of an hour on a busy 8-core
# machine; one size of four pictures at three bounds, about ten minutes.
# Environment: SWEEP_SIZES (megapixels from 1 4 16 24, default all), SWEEP_BOUNDS (default
# 32768,65536,131072,196608,262144,524288,1048576,0 where 0 is no bound), SWEEP_COUNTS (default
# 16,64,256), SWEEP_PICTURES (default "EveningGlow FallenLeaf ColorfulCups synthetic"), SWEEP_OUT
# (a folder that keeps the palettes and pictures without dithering of the first size, default
# none), SWEEP_PEER=no (leaves the peer out).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$here/build}"
sweep="$build/bench/palette_sweep"
photo="$build/bench/open_bench"
if [ ! -x "$sweep" ] || [ ! -x "$photo" ]; then
    echo "benchmarks not built in $build" >&2
    exit 1
fi
sizes="${SWEEP_SIZES:-1 4 16 24}"
bounds="${SWEEP_BOUNDS:-32768,65536,131072,196608,262144,524288,1048576,0}"
counts="${SWEEP_COUNTS:-16,64,256}"
pictures="${SWEEP_PICTURES:-EveningGlow FallenLeaf ColorfulCups synthetic}"

for tool in pngquant:pngquant convert:imagemagick; do
    if ! command -v "${tool%%:*}" >/dev/null && [ "$(id -u)" = 0 ]; then
        apt-get install -y -qq "${tool#*:}" >/dev/null 2>&1 || true
    fi
done
command -v pngquant >/dev/null || { echo "pngquant is missing (apt-get install pngquant)" >&2; exit 1; }
command -v convert >/dev/null || { echo "ImageMagick is missing" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get download plasma-workspace-wallpapers >/dev/null 2>&1) ||
    { echo "cannot fetch plasma-workspace-wallpapers" >&2; exit 1; }
dpkg-deb -x "$work"/plasma-workspace-wallpapers_*.deb "$work/x"
walls="$work/x/usr/share/wallpapers"

dims() {
    case "$1" in
        1) echo "1280 800" ;;
        4) echo "2560 1600" ;;
        16) echo "5120 3200" ;;
        24) echo "6144 3840" ;;
        *) echo "unknown size $1 MP" >&2; exit 2 ;;
    esac
}

rows="$work/rows.tsv"
first_size="${sizes%% *}"
for mp in $sizes; do
    read -r w h <<<"$(dims "$mp")"
    for pic in $pictures; do
        img="$work/$pic-$mp.png"
        if [ "$pic" = synthetic ]; then
            "$photo" --photo "$w" "$h" "$img"
        else
            src="$walls/$pic/contents/images/2560x1600.jpg"
            [ -f "$src" ] || { echo "no 2560x1600 picture in $pic" >&2; exit 1; }
            convert "$src" -resize "${w}x${h}!" -seed 1 -attenuate 0.2 +noise Gaussian -depth 8 "PNG24:$img"
        fi
        out=()
        if [ -n "${SWEEP_OUT:-}" ] && [ "$mp" = "$first_size" ]; then
            mkdir -p "$SWEEP_OUT/$pic"
            out=("$SWEEP_OUT/$pic")
        fi
        echo
        "$sweep" "$img" "$bounds" "$counts" "${out[@]}" | tee "$work/one.txt"
        awk -v p="$pic" -v mp="$mp" 'NR > 2 { print p "\t" mp "\t" $1 "\t" $2 "\t" $3 "\t" $4 "\t" $5 }' \
            "$work/one.txt" >>"$rows"
        if [ "${SWEEP_PEER:-yes}" != no ]; then
            for n in ${counts//,/ }; do
                for d in none floyd-steinberg; do
                    flag=()
                    [ "$d" = none ] && flag=(--nofs)
                    start=$(date +%s.%N)
                    pngquant --force "${flag[@]}" --output "$work/peer.png" "$n" "$img"
                    ms=$(echo "($(date +%s.%N) - $start) * 1000 / 1" | bc)
                    psnr=$("$sweep" --psnr "$img" "$work/peer.png")
                    printf '%-8s %6s %-16s %7s %10s\n' peer "$n" "$d" "$psnr" "$ms"
                    printf '%s\t%s\tpeer\t%s\t%s\t%s\t%s\n' "$pic" "$mp" "$n" "$d" "$psnr" "$ms" >>"$rows"
                done
            done
        fi
        rm -f "$img" "$work/peer.png"
    done
done

echo
echo "mean PSNR over the pictures (dB), and its distance to the peer's"
printf '%-4s %-8s %6s %-16s %7s %7s %10s\n' MP bound colours dither psnr vs_peer palette_ms
awk -F'\t' '
    { k = $2 SUBSEP $3 SUBSEP $4 SUBSEP $5; s[k] += $6; t[k] += $7; c[k]++; if (!(k in seen)) { seen[k] = 1; order[++m] = k } }
    END {
        for (i = 1; i <= m; ++i) {
            split(order[i], f, SUBSEP)
            p = f[1] SUBSEP "peer" SUBSEP f[3] SUBSEP f[4]
            printf "%-4s %-8s %6s %-16s %7.2f %7.2f %10.0f\n", f[1], f[2], f[3], f[4], s[order[i]] / c[order[i]],
                   s[order[i]] / c[order[i]] - s[p] / c[p], t[order[i]] / c[order[i]]
        }
    }' "$rows" | sort -k1,1n -k3,3n -k4,4 -k2,2n -s
