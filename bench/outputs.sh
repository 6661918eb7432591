#!/usr/bin/env bash
# Times batch runs on the bench's full case (the whole globe, 1950-2000) writing the
# series and coordinates files only, and writing them together with the station report,
# the CSV and the netCDF file; prints the medians, their ratio and the sizes.
#
# Usage: bash bench/outputs.sh [BUILD_DIR]   (after bench/run.sh has made the archive)
# Environment: VARNEX_BENCH_DIR (default /tmp/varnex-bench), BENCH_RUNS (default 5).
set -u
export LC_ALL=C

build=${1:-build}
varnex=$(cd "$build" && pwd)/varnex
bench_dir=${VARNEX_BENCH_DIR:-/tmp/varnex-bench}
archive=$bench_dir/s10000
runs=${BENCH_RUNS:-5}
[ -x "$varnex" ] || { echo "outputs.sh: no program at $varnex" >&2; exit 1; }
[ -f "$archive/data.txt" ] || { echo "outputs.sh: no archive in $archive (run bench/run.sh first)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-outputs.XXXXXX")
trap 'rm -rf "$work"' EXIT
box=(--lat -90,90 --lon -180,180 --years 1950-2000 -C "$archive" -q)

seconds() {
    local t0 t1
    t0=$EPOCHREALTIME
    "$@" || { echo "outputs.sh: '$*' failed" >&2; exit 1; }
    t1=$EPOCHREALTIME
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }'
}

median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

legacy=() all=()
for ((i = 0; i < runs; i++)); do
    legacy+=("$(seconds "$varnex" "${box[@]}" -o "$work")")
    all+=("$(seconds "$varnex" "${box[@]}" -o "$work" --report "$work/report.tsv" --csv "$work/series.csv" \
        --netcdf "$work/series.nc")")
done
l=$(median "${legacy[@]}")
a=$(median "${all[@]}")
printf '%-28s %9s\n' "outputs" "median s"
printf '%-28s %9s\n' ".TSF and .YX" "$l"
printf '%-28s %9s\n' "+ report, CSV and netCDF" "$a"
awk -v l="$l" -v a="$a" 'BEGIN { printf "ratio: %.2f\n", a / l }'
for f in QORN_TAVEq.TSF QORNTAVEq.YX report.tsv series.csv series.nc; do
    printf '%12d bytes  %s\n' "$(stat -c %s "$work/$f")" "$f"
done
