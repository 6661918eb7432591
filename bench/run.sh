#!/usr/bin/env bash
# Times whole varnex runs on a large synthetic archive, hot cache, against `wc -l` of the
# same data.txt, and prints one table row per case (see bench/README.md).
#
# Usage: bash bench/run.sh [BUILD_DIR]        (default: build; needs varnex and varnex_archive)
# Environment:
#   VARNEX_BENCH_DIR  where the archives and the run directories live (default /tmp/varnex-bench)
#   BENCH_RUNS        timed runs per case (default 5)
#   BENCH_QUICK=1     1,000 stations instead of 10,000, for a fast smoke run
#   BENCH_COMPARE=DIR after the timed runs, copy each case's output files (and the terminal
#                     output of one more, untimed run) into DIR/CASE/
#   BENCH_CASES="..." only these cases (names as in the table), e.g. "full reversed"
#   BENCH_BIG=0       leave out the two large cases (a 1 GB record, a 5 GB data.txt), which
#                     are made on the fly under VARNEX_BENCH_DIR/scratch and removed after
set -u
export LC_ALL=C

fail() {
    echo "bench: $*" >&2
    exit 1
}

# ---------------------------------------------------------------------------
# Settings

build=${1:-build}
case $build in
    /*) ;;
    *) build=$(pwd)/$build ;;
esac
varnex=$build/varnex
generator=$build/varnex_archive
[ -x "$varnex" ] || fail "$varnex is not an executable program (run make build first)"
[ -x "$generator" ] || fail "$generator is not an executable program (CMake target varnex_archive)"

bench_dir=${VARNEX_BENCH_DIR:-/tmp/varnex-bench}
runs=${BENCH_RUNS:-5}
case $runs in
    '' | *[!0-9]* | 0) fail "BENCH_RUNS must be a positive whole number, not '$runs'" ;;
esac
if [ "${BENCH_QUICK:-0}" = 1 ]; then stations=1000; else stations=10000; fi
absent=10
big=${BENCH_BIG:-1}
# The 5 GB data.txt: 110,000 stations of 1332 records (about 36 bytes each).
if [ "${BENCH_QUICK:-0}" = 1 ]; then big_stations=11000; else big_stations=110000; fi
long_record_bytes=$((1024 * 1024 * 1024))
compare_dir=${BENCH_COMPARE:-}
if [ -n "$compare_dir" ]; then
    case $compare_dir in
        /*) ;;
        *) compare_dir=$(pwd)/$compare_dir ;;
    esac
fi

# The generator's own defaults already give 1900-2010 and seed 1; they are spelled out so
# that the cache key does not depend on them.
common_options="--first-year 1900 --last-year 2010 --seed 1"
main_options="--stations $stations $common_options"
absent_options="--stations $((stations + absent)) $common_options --absent $absent"
main_archive=$bench_dir/s$stations
absent_archive=$bench_dir/s$stations-absent$absent
# The acceptance archive: the same stations, each record ID, 1, date, value and deviation
# to three decimals, days, 0.
flat_archive=$bench_dir/s$stations-flat
flat_options="$main_options --flat-records"

series_name=QORN_TAVEq.TSF
coords_name=QORNTAVEq.YX

# ---------------------------------------------------------------------------
# Tools

if [ ! -x /usr/bin/time ]; then
    if [ "$(id -u)" = 0 ]; then
        echo "installing: time"
        { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq time; } || fail "could not install time"
    else
        echo "missing: /usr/bin/time"
        echo "run: sudo apt-get update && sudo apt-get install -y time"
        exit 1
    fi
fi

# Wall clock in seconds with microseconds; bash 5 has it built in.
now() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        echo "$EPOCHREALTIME"
    else
        date +%s.%N
    fi
}

file_size() {
    stat -c %s "$1"
}

# Median of the numbers given as arguments.
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else printf "%.6f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

largest() {
    printf '%s\n' "$@" | sort -g | tail -n 1
}

# ---------------------------------------------------------------------------
# Archives, made once and kept while their options stay the same

ensure_archive() {
    local dir=$1 options=$2
    if [ -f "$dir/.options" ] && [ "$(cat "$dir/.options")" = "$options" ] &&
        [ -f "$dir/site_summary.txt" ] && [ -f "$dir/data.txt" ]; then
        echo "archive $dir: re-used ($options)"
        return
    fi
    echo "archive $dir: generating ($options)"
    rm -rf "$dir.partial"
    mkdir -p "$dir.partial" || fail "cannot create $dir.partial"
    # shellcheck disable=SC2086  # the options are words on purpose
    "$generator" --out "$dir.partial" $options || fail "the generator failed"
    echo "$options" > "$dir.partial/.options"
    rm -rf "$dir"
    mv "$dir.partial" "$dir" || fail "cannot move $dir.partial to $dir"
}

# Stations of the catalogue inside a box (no box here crosses the 180 degree meridian).
stations_in_box() {
    local catalogue=$1 max_lat=$2 min_lat=$3 max_lon=$4 min_lon=$5
    awk -v n="$max_lat" -v s="$min_lat" -v e="$max_lon" -v w="$min_lon" '
        NR > 60 && NF >= 3 && $2 + 0 >= s + 0 && $2 + 0 <= n + 0 && $3 + 0 >= w + 0 && $3 + 0 <= e + 0 { k++ }
        END { print k + 0 }' "$catalogue"
}

# ---------------------------------------------------------------------------
# Cases: name, archive, then the box as typed (max lat, min lat, max lon, min lon)

case_names=(full acceptance padded reversed shuffled narrow absent dialogue-only scattered-sorted scattered tab-run)
[ "$big" = 1 ] && case_names+=(long-record big-data)
if [ -n "${BENCH_CASES:-}" ]; then
    read -ra case_names <<< "$BENCH_CASES"
fi
scratch_dir=$bench_dir/scratch
long_archive=$scratch_dir/long-record
big_archive=$scratch_dir/big-data
padded_archive=$scratch_dir/padded
tab_archive=$scratch_dir/tab-run
# 200,000 stations of two years (about 170 MB), blocks in catalogue order or shuffled.
scattered_sorted_archive=$bench_dir/s200k
scattered_archive=$bench_dir/s200k-shuffled
scattered_options="--stations 200000 --first-year 2000 --last-year 2001 --seed 1"
declare -A case_archive case_box case_span
case_archive[full]=$main_archive
case_box[full]="90.00 -90.00 180.00 -180.00"
# 70 N to 50 S over all longitudes, 1951-2000, at most a fifth of the months missing.
case_archive[acceptance]=$flat_archive
case_box[acceptance]="70.00 -50.00 180.00 -180.00"
case_span[acceptance]="1951 2000 0.2"
# The acceptance archive with every record padded by a comment column, as archives carry
# flags and sources after the four values.
case_archive[padded]=$padded_archive
case_box[padded]="70.00 -50.00 180.00 -180.00"
case_span[padded]="1951 2000 0.2"
# The same archive with the catalogue in the reverse order of data.txt, and shuffled.
case_archive[reversed]=$main_archive
case_box[reversed]="90.00 -90.00 180.00 -180.00"
case_archive[shuffled]=$main_archive
case_box[shuffled]="90.00 -90.00 180.00 -180.00"
# Many short blocks: in catalogue order, and in random order.
case_archive[scattered-sorted]=$scattered_sorted_archive
case_box[scattered-sorted]="90.00 -90.00 180.00 -180.00"
case_span[scattered-sorted]="2000 2001 0.1"
case_archive[scattered]=$scattered_archive
case_box[scattered]="90.00 -90.00 180.00 -180.00"
case_span[scattered]="2000 2001 0.1"
# The 1,000-station archive whose first record holds 9 million TABs among its four values.
case_archive[tab-run]=$tab_archive
case_box[tab-run]="90.00 -90.00 180.00 -180.00"
# The 1,000-station archive whose first record runs on for 1 GB of blanks.
case_archive[long-record]=$long_archive
case_box[long-record]="90.00 -90.00 180.00 -180.00"
case_archive[big-data]=$big_archive
case_box[big-data]="90.00 -90.00 180.00 -180.00"
case_archive[narrow]=$main_archive
case_box[narrow]="50.00 40.00 26.00 0.00"
case_archive[absent]=$absent_archive
case_box[absent]="90.00 -90.00 180.00 -180.00"
case_archive[dialogue-only]=$main_archive
case_box[dialogue-only]="90.00 90.00 0.00 0.00"

# The whole dialogue: data type 1, Return after the region help, the box, T, the span
# (1950-2000 unless the case says otherwise), T, the largest share of missing months (10 %
# unless the case says otherwise), 1 (reject the others).
write_answers() {
    local file=$1 max_lat=$2 min_lat=$3 max_lon=$4 min_lon=$5 name=$6 fyod lyod fraction
    read -r fyod lyod fraction <<< "${case_span[$name]:-1950 2000 0.1}"
    printf '%s\n' 1 '' "$max_lat" "$min_lat" "$max_lon" "$min_lon" T "$fyod" "$lyod" T "$fraction" 1 > "$file"
}

# The run directory holds links to the archive's two files (for `reversed`, a catalogue
# with its stations in reverse order); varnex writes its output there.
prepare_run_dir() {
    local dir=$1 archive=$2 name=$3 f
    mkdir -p "$dir" || fail "cannot create $dir"
    for f in site_summary.txt data.txt; do
        rm -f "$dir/$f"
        ln "$archive/$f" "$dir/$f" 2>/dev/null || ln -s "$archive/$f" "$dir/$f" || fail "cannot link $archive/$f"
    done
    if [ "$name" = reversed ]; then
        rm -f "$dir/site_summary.txt"
        { head -n 60 "$archive/site_summary.txt" && tail -n +61 "$archive/site_summary.txt" | tac; } > "$dir/site_summary.txt" ||
            fail "cannot write the reversed catalogue"
    fi
    if [ "$name" = shuffled ]; then
        rm -f "$dir/site_summary.txt"
        {
            head -n 60 "$archive/site_summary.txt"
            tail -n +61 "$archive/site_summary.txt" | shuf --random-source=<(yes 1)
        } > "$dir/site_summary.txt" || fail "cannot write the shuffled catalogue"
    fi
    rm -f "$dir/$series_name" "$dir/$coords_name"
}

# The large archives are made just before their case and removed right after it.
make_scratch_archive() {
    local name=$1
    rm -rf "${case_archive[$name]}"
    mkdir -p "$scratch_dir" || fail "cannot create $scratch_dir"
    case $name in
        long-record)
            # shellcheck disable=SC2086
            "$generator" --out "$long_archive.base" --stations 1000 $common_options > /dev/null || fail "the generator failed"
            mkdir -p "$long_archive" || fail "cannot create $long_archive"
            mv "$long_archive.base/site_summary.txt" "$long_archive/" || fail "cannot move the catalogue"
            {
                head -n 112 "$long_archive.base/data.txt" | head -c -1
                head -c "$long_record_bytes" /dev/zero | tr '\0' ' '
                printf '\n'
                tail -n +113 "$long_archive.base/data.txt"
            } > "$long_archive/data.txt" || fail "cannot write the long record"
            rm -rf "$long_archive.base"
            ;;
        big-data)
            # shellcheck disable=SC2086
            "$generator" --out "$big_archive" --stations "$big_stations" $common_options > /dev/null ||
                fail "the generator failed"
            ;;
        padded)
            mkdir -p "$padded_archive" || fail "cannot create $padded_archive"
            cp "$flat_archive/site_summary.txt" "$padded_archive/" || fail "cannot copy the catalogue"
            awk 'NR > 111 { print $0 "\tQC=passed;src=merged-network-v2"; next } { print }' "$flat_archive/data.txt" \
                > "$padded_archive/data.txt" || fail "cannot write the padded data.txt"
            ;;
        tab-run)
            # shellcheck disable=SC2086
            "$generator" --out "$tab_archive.base" --stations 1000 $common_options > /dev/null || fail "the generator failed"
            mkdir -p "$tab_archive" || fail "cannot create $tab_archive"
            mv "$tab_archive.base/site_summary.txt" "$tab_archive/" || fail "cannot move the catalogue"
            {
                head -n 111 "$tab_archive.base/data.txt"
                sed -n 112p "$tab_archive.base/data.txt" | awk -v n=9000000 '{
                    tabs = "\t"; while (length(tabs) < n) tabs = tabs tabs
                    $1 = $1 substr(tabs, 1, n); print }'
                tail -n +113 "$tab_archive.base/data.txt"
            } > "$tab_archive/data.txt" || fail "cannot write the run of TABs"
            rm -rf "$tab_archive.base"
            ;;
    esac
}

scratch_case() {
    case $1 in long-record | big-data | padded | tab-run) return 0 ;; esac
    return 1
}

remove_scratch_archives() {
    rm -rf "$long_archive" "$long_archive.base" "$big_archive" "$padded_archive" "$tab_archive" "$tab_archive.base" \
        "$bench_dir/run/long-record" "$bench_dir/run/big-data" "$bench_dir/run/padded" "$bench_dir/run/tab-run"
}
trap remove_scratch_archives EXIT

# Runs a command under /usr/bin/time -v with standard output discarded; sets `elapsed`
# (seconds), `cpu` (user plus system seconds) and `rss_kb`. A non-zero exit status ends
# the benchmark.
timed() {
    local report=$1 input=$2
    shift 2
    local t0 t1 status
    t0=$(now)
    /usr/bin/time -v -o "$report" "$@" < "$input" > /dev/null
    status=$?
    t1=$(now)
    [ "$status" = 0 ] || fail "'$*' exited with status $status in $(pwd)"
    elapsed=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')
    rss_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$report")
    cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { printf "%.2f", s }' "$report")
}

# ---------------------------------------------------------------------------
# Main

mkdir -p "$bench_dir" || fail "cannot create $bench_dir"
load_before=$(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null)
ensure_archive "$main_archive" "$main_options"
ensure_archive "$absent_archive" "$absent_options"
wanted_case() {
    [ -z "${BENCH_CASES:-}" ] || [[ " $BENCH_CASES " == *" $1 "* ]]
}
if wanted_case acceptance || wanted_case padded; then
    ensure_archive "$flat_archive" "$flat_options"
fi
wanted_case scattered-sorted && ensure_archive "$scattered_sorted_archive" "$scattered_options"
wanted_case scattered && ensure_archive "$scattered_archive" "$scattered_options --shuffle-blocks"

echo
echo "varnex:  $varnex"
echo "cores:   $(nproc 2>/dev/null || echo '?')${OMP_NUM_THREADS:+, OMP_NUM_THREADS=$OMP_NUM_THREADS}"
echo "runs:    $runs per case, each right after a timed wc -l"
for archive in "$main_archive" "$absent_archive" "$flat_archive"; do
    [ -f "$archive/data.txt" ] || continue
    bytes=$(file_size "$archive/data.txt")
    lines=$(wc -l < "$archive/data.txt")
    catalogue=$(($(wc -l < "$archive/site_summary.txt") - 60))
    awk -v d="$archive" -v b="$bytes" -v l="$lines" -v c="$catalogue" 'BEGIN {
        printf "archive: %s: data.txt %d bytes (%.1f MB), %d lines (%d observations); %d catalogue stations\n",
               d, b, b / 1e6, l, l - 111, c }'
done
echo

declare -A med_time med_wc med_cpu rss_mb in_box saved data_bytes
for name in "${case_names[@]}"; do
    archive=${case_archive[$name]}
    read -r max_lat min_lat max_lon min_lon <<< "${case_box[$name]}"
    run_dir=$bench_dir/run/$name
    scratch_case "$name" && make_scratch_archive "$name"
    prepare_run_dir "$run_dir" "$archive" "$name"
    answers=$bench_dir/run/$name.answers
    write_answers "$answers" "$max_lat" "$min_lat" "$max_lon" "$min_lon" "$name"
    in_box[$name]=$(stations_in_box "$archive/site_summary.txt" "$max_lat" "$min_lat" "$max_lon" "$min_lon")
    data_bytes[$name]=$(file_size "$archive/data.txt")
    report=$bench_dir/run/$name.time

    cd "$run_dir" || fail "cannot enter $run_dir"
    cat site_summary.txt data.txt > /dev/null  # hot cache
    timed "$report" /dev/null wc -l data.txt

    echo "case $name: box lat $min_lat..$max_lat, lon $min_lon..$max_lon, ${in_box[$name]} stations in the box"
    varnex_times=()
    wc_times=()
    rss_values=()
    cpu_values=()
    for ((run = 1; run <= runs; ++run)); do
        timed "$report" /dev/null wc -l data.txt
        wc_times+=("$elapsed")
        rm -f "$series_name" "$coords_name"
        timed "$report" "$answers" "$varnex"
        varnex_times+=("$elapsed")
        rss_values+=("$rss_kb")
        cpu_values+=("$cpu")
        awk -v r="$run" -v w="${wc_times[-1]}" -v v="$elapsed" -v c="$cpu" -v m="$rss_kb" \
            'BEGIN { printf "  run %d: wc -l %.3f s, varnex %.3f s (cpu %.2f s), peak RSS %.1f MiB\n", r, w, v, c, m / 1024 }'
    done
    med_time[$name]=$(median "${varnex_times[@]}")
    med_wc[$name]=$(median "${wc_times[@]}")
    med_cpu[$name]=$(median "${cpu_values[@]}")
    rss_mb[$name]=$(awk -v k="$(largest "${rss_values[@]}")" 'BEGIN { printf "%.1f", k / 1024 }')
    saved[$name]=$(($(wc -l < "$coords_name") - 1))

    if [ -n "$compare_dir" ]; then
        mkdir -p "$compare_dir/$name" || fail "cannot create $compare_dir/$name"
        rm -f "$series_name" "$coords_name"
        "$varnex" < "$answers" > "$compare_dir/$name/stdout.txt" || fail "varnex failed in $run_dir"
        cp "$series_name" "$coords_name" "$compare_dir/$name/" || fail "cannot copy the output of $name"
    fi
    scratch_case "$name" && cd "$bench_dir" && remove_scratch_archives
done

ran() {
    [ -n "${med_time[$1]:-}" ]
}
if ran full; then
    [ "${saved[full]}" = "${in_box[full]}" ] || echo "warning: full case saved ${saved[full]} stations, expected ${in_box[full]}"
fi
if ran absent; then
    [ "${saved[absent]}" = "$((in_box[absent] - absent))" ] ||
        echo "warning: absent case saved ${saved[absent]} stations, expected $((in_box[absent] - absent))"
fi
if ran dialogue-only; then
    [ "${in_box[dialogue-only]}" = 0 ] || echo "warning: the dialogue-only box holds ${in_box[dialogue-only]} stations"
fi
for name in reversed shuffled long-record big-data tab-run; do
    if ran "$name" && [ "${saved[$name]}" != "${in_box[$name]}" ]; then
        echo "warning: $name case saved ${saved[$name]} stations, expected ${in_box[$name]}"
    fi
done

echo
printf '%-17s %7s %6s %9s %7s %8s %8s %8s %13s\n' case in-box saved "median s" "cpu s" "MB/s" "wc -l s" "/wc" "peak RSS MiB"
for name in "${case_names[@]}"; do
    awk -v n="$name" -v b="${in_box[$name]}" -v s="${saved[$name]}" -v t="${med_time[$name]}" \
        -v c="${med_cpu[$name]}" -v w="${med_wc[$name]}" -v d="${data_bytes[$name]}" -v m="${rss_mb[$name]}" 'BEGIN {
        rate = (n == "dialogue-only") ? "-" : sprintf("%.1f", d / 1e6 / t)
        printf "%-17s %7d %6d %9.3f %7.2f %8s %8.3f %8.2f %13s\n", n, b, s, t, c, rate, w, t / w, m }'
done
echo
if ran absent && ran full; then
    passes=$((2 * absent))
    awk -v a="${med_time[absent]}" -v f="${med_time[full]}" -v p="$passes" -v k="$absent" -v w="${med_wc[absent]}" 'BEGIN {
        per = (a - f) / p
        printf "absent: %d stations missing from data.txt, %d extra full passes expected (two each)\n", k, p
        printf "absent: (absent - full) / %d = %.3f s per extra pass = %.2f x wc -l\n", p, per, per / w }'
fi
if ran reversed && ran full; then
    awk -v r="${med_time[reversed]}" -v f="${med_time[full]}" 'BEGIN {
        printf "reversed: the catalogue in the reverse order of data.txt takes %.2f x the full case\n", r / f }'
fi
if ran shuffled && ran full; then
    awk -v r="${med_time[shuffled]}" -v f="${med_time[full]}" 'BEGIN {
        printf "shuffled: the catalogue in random order takes %.2f x the full case\n", r / f }'
fi
if ran scattered && ran scattered-sorted; then
    awk -v r="${med_time[scattered]}" -v f="${med_time[scattered-sorted]}" 'BEGIN {
        printf "scattered: 200,000 blocks in random order take %.2f x the same in catalogue order\n", r / f }'
fi
if ran padded && ran acceptance; then
    awk -v p="${med_time[padded]}" -v w="${med_wc[padded]}" -v a="${med_time[acceptance]}" 'BEGIN {
        printf "padded: %.2f x wc -l on its own file, %.2f x the unpadded acceptance case\n", p / w, p / a }'
fi
if ran full; then
    awk -v c="${med_cpu[full]}" -v t="${med_time[full]}" 'BEGIN {
        printf "full: %.2f s of CPU for %.2f s of wall clock, %.2f x\n", c, t, c / t }'
fi
echo "load average (1, 5, 15 min): ${load_before:-?} before, $(cut -d ' ' -f 1-3 /proc/loadavg 2>/dev/null) after"
[ -n "$compare_dir" ] && echo "output files of the cases saved in $compare_dir"
if ran acceptance; then
    awk -v f="${med_time[acceptance]}" -v w="${med_wc[acceptance]}" 'BEGIN { printf "acceptance/wc ratio: %.2f\n", f / w }'
fi
if ran full; then
    awk -v f="${med_time[full]}" -v w="${med_wc[full]}" 'BEGIN { printf "full/wc ratio: %.2f\n", f / w }'
fi
