#!/usr/bin/env bash
# Times the command line's ways of choosing stations on the bench archives, hot cache, each
# beside `wc -l` of the same data.txt in the same run (see bench/README.md):
#   world     one run of the whole world, 1951-2000, at most a fifth of the months missing
#   tiles-20  20 boxes that tile the globe, in one --selections run with the same options
#   loop-20   the same 20 boxes, one run each (what a shell loop over boxes costs)
#   list-200k --list of the whole world on the 200,000-station catalogue
#
# Usage: bash bench/selections.sh [BUILD_DIR]   (after bench/run.sh has made the archives)
# Environment: VARNEX_BENCH_DIR (default /tmp/varnex-bench), BENCH_RUNS (default 7)
set -u
export LC_ALL=C

fail() {
    echo "bench: $*" >&2
    exit 1
}

build=${1:-build}
case $build in
    /*) ;;
    *) build=$(pwd)/$build ;;
esac
varnex=$build/varnex
[ -x "$varnex" ] || fail "$varnex is not an executable program (run make build first)"
bench_dir=${VARNEX_BENCH_DIR:-/tmp/varnex-bench}
runs=${BENCH_RUNS:-7}
archive=$bench_dir/s10000
stations_archive=$bench_dir/s200k
for a in "$archive" "$stations_archive"; do
    [ -f "$a/data.txt" ] || fail "no archive at $a (run bench/run.sh first)"
done
work=$bench_dir/selections
rm -rf "$work"
mkdir -p "$work" || fail "cannot create $work"

# 4 bands of latitude by 5 of longitude; the edges are shared, as a user tiling by hand
# would write them, so a station on an edge is in two tiles.
tiles=$work/tiles.txt
for lat in -90,-45 -45,0 0,45 45,90; do
    for lon in -180,-108 -108,-36 -36,36 36,108 108,180; do
        echo "t${lat/,/_}_${lon/,/_} --lat $lat --lon $lon"
    done
done > "$tiles"

common=(-q --years 1951-2000 --max-missing 0.2)

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Seconds of one command, wall clock.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null || fail "failed: $*"
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

run_world() { mkdir -p "$work/world" && "$varnex" -C "$archive" "${common[@]}" --lat -90,90 -o "$work/world"; }
run_tiles() { mkdir -p "$work/tiles" && "$varnex" -C "$archive" "${common[@]}" --selections "$tiles" -o "$work/tiles"; }
run_loop() {
    local name options
    while read -r name options; do
        mkdir -p "$work/loop/$name" || return 1
        # shellcheck disable=SC2086
        "$varnex" -C "$archive" "${common[@]}" $options -o "$work/loop/$name" || return 1
    done < "$tiles"
}
run_list() { "$varnex" -C "$stations_archive" --list --lat -90,90; }
count_lines() { wc -l "$1/data.txt"; }

cat "$archive/data.txt" "$stations_archive/data.txt" "$stations_archive/site_summary.txt" > /dev/null
run_world > /dev/null || fail "the world run failed"
run_tiles > /dev/null || fail "the tiles run failed"

printf '%-10s %9s %9s %8s\n' case seconds "wc -l" ratio
for name in world tiles-20 loop-20 list-200k; do
    case $name in
        world) command=run_world file=$archive ;;
        tiles-20) command=run_tiles file=$archive ;;
        loop-20) command=run_loop file=$archive ;;
        list-200k) command=run_list file=$stations_archive ;;
    esac
    times=() wcs=()
    for ((r = 0; r < runs; ++r)); do
        wcs+=("$(seconds count_lines "$file")")
        times+=("$(seconds "$command")")
    done
    t=$(printf '%s\n' "${times[@]}" | median)
    w=$(printf '%s\n' "${wcs[@]}" | median)
    declare "time_${name//-/_}=$t"
    awk -v n="$name" -v t="$t" -v w="$w" 'BEGIN { printf "%-10s %9.3f %9.3f %8.2f\n", n, t, w, t / w }'
done
awk -v t="$time_tiles_20" -v w="$time_world" -v l="$time_loop_20" 'BEGIN {
    printf "tiles-20: %.2f x the world run (a loop of 20 runs: %.2f x)\n", t / w, l / w }'
# The tiles hold every station of the world at least once: the same saved series.
world_saved=$(grep -c . "$work/world/QORNTAVEq.YX")
tiles_saved=$(cat "$work"/tiles/*/QORNTAVEq.YX | sort -u | grep -c .)
echo "saved stations: world $world_saved, tiles (each once) $tiles_saved"
