#!/bin/sh
# Runs every fuzz target over its seeds (fuzz/corpus and the conformance files under tests/data),
# then on for a few seconds of new inputs each. Exits non-zero at the first target that finds a
# crash, a sanitizer report, a leak or an input slower than the time limit; its log is printed.
# Usage: fuzz/run.sh [build folder of fuzz/build.sh] [seconds per target]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build-fuzz}" && pwd)
seconds=${2:-6}
corpus=$here/corpus
suite=$root/tests/data/pngsuite
work=$build/fuzz-run
rm -rf "$work"
mkdir -p "$work"

# Seed folders of each target, besides its own new-units folder (which comes first, so that the
# committed seeds are never written to).
seeds() {
    case $1 in
        bmp) echo "$corpus/bmp $suite/bmp" ;;
        png) echo "$corpus/png $suite/png" ;;
        preview) echo "$corpus/bmp $corpus/gif $corpus/jpeg $corpus/ico $corpus/tga $corpus/psd $corpus/png $suite/png" ;;
        quillox) echo "$corpus/png $corpus/bmp $corpus/ppm $suite/png" ;;
        *) echo "$corpus/$1" ;;
    esac
}

targets=$(sed -n 's/^set(JX_FUZZ_TARGETS \(.*\))$/\1/p' "$here/CMakeLists.txt")
passed=0
for t in $targets; do
    mkdir -p "$work/$t"
    log=$work/$t.log
    # shellcheck disable=SC2046
    if ! (cd "$work" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=3 -rss_limit_mb=2560 -print_final_stats=1 \
        "$work/$t" $(seeds "$t") >"$log" 2>&1); then
        echo "fuzz_$t failed:"
        tail -n 60 "$log"
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz_$t: ${runs:-?} runs, no finding"
    passed=$((passed + 1))
done
echo "fuzz: $passed passed, 0 failed"
