#!/usr/bin/env bash
# Times varnex reading data.txt as it comes, against what feeds it: from data.txt.zst
# (zstd -3) against `zstd -dc`, from data.txt.gz (gzip -6) against `gzip -dc`, and through a
# FIFO fed by cat against the mapped file. The acceptance box of bench/run.sh on its
# s10000-flat archive; the compressed files are made once, beside the run directory.
#
# Usage: bash bench/streams.sh [BUILD_DIR] [RUNS]     (after bench/run.sh made s10000-flat)
set -u
build=${1:-build}
runs=${2:-3}
case $build in /*) ;; *) build=$(pwd)/$build ;; esac
bench_dir=${VARNEX_BENCH_DIR:-/tmp/varnex-bench}
archive=$bench_dir/s10000-flat
work=$bench_dir/streams
[ -f "$archive/data.txt" ] || { echo "streams: run bench/run.sh first ($archive/data.txt)" >&2; exit 1; }
mkdir -p "$work" && cd "$work" || exit 1
[ -f data.txt.zst ] || zstd -3 -q -c "$archive/data.txt" > data.txt.zst
[ -f data.txt.gz ] || gzip -6 -c "$archive/data.txt" > data.txt.gz
options="--lat -50,70 --years 1951-2000 --max-missing 0.2 -q -C $archive -o out"
seconds() {
    local t0=$EPOCHREALTIME
    "$@" > /dev/null 2>&1
    echo "$EPOCHREALTIME - $t0" | bc
}
printf '%-8s %-10s %-8s %-10s %-8s %-8s\n' "zstd -dc" "from .zst" "gzip -dc" "from .gz" "mapped" "FIFO"
for _ in $(seq "$runs"); do
    rm -rf out && mkdir out
    zstd_s=$(seconds sh -c "zstd -dc data.txt.zst > /dev/null")
    zst_s=$(seconds "$build/varnex" $options --data data.txt.zst)
    gzip_s=$(seconds sh -c "gzip -dc data.txt.gz > /dev/null")
    gz_s=$(seconds "$build/varnex" $options --data data.txt.gz)
    mapped_s=$(seconds "$build/varnex" $options)
    rm -f fifo && mkfifo fifo
    (cat "$archive/data.txt" > fifo &)
    fifo_s=$(seconds "$build/varnex" $options --data fifo)
    printf '%-8s %-10s %-8s %-10s %-8s %-8s\n' "$zstd_s" "$zst_s" "$gzip_s" "$gz_s" "$mapped_s" "$fifo_s"
done
rm -f fifo
