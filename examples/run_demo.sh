#!/usr/bin/env bash
# Runs varnex once on the sample archive, in a fresh temporary directory, with the
# answers of answers.txt, then shows what the run wrote; then the same extraction once
# more from the command line, which also writes the CSV and netCDF files, and shows them;
# then once more from data.txt.gz, whose outputs must equal those of the plain run.
# Usage: bash examples/run_demo.sh PATH_TO_VARNEX
set -u

if [ $# -ne 1 ]; then
    echo "usage: bash $0 PATH_TO_VARNEX" >&2
    exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
program=$1
case $program in
    /*) ;;
    */*) program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program") ;;
    *) program=$(command -v "$program" || echo "$program") ;;
esac
if [ ! -x "$program" ]; then
    echo "run_demo.sh: $1 is not an executable program" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-demo.XXXXXX")
cp "$here/sample/site_summary.txt" "$here/sample/data.txt" "$work/"

echo "=== answers (examples/answers.txt), one per line; the empty line releases the pause ==="
sed 's/^/    | /' "$here/answers.txt"
echo
echo "=== varnex in $work ==="
(cd "$work" && "$program" < "$here/answers.txt")
status=$?
echo
echo "=== varnex exited with status $status ==="

shopt -s nullglob
series=("$work"/*.TSF)
coords=("$work"/*.YX)
for f in "${series[@]}"; do
    echo
    echo "=== head of $(basename "$f") ==="
    head -n 15 "$f"
done
for f in "${coords[@]}"; do
    echo
    echo "=== $(basename "$f") ==="
    cat "$f"
done
echo
echo "=== sizes ==="
for f in "${series[@]}" "${coords[@]}"; do
    printf '%10d bytes  %s\n' "$(wc -c < "$f")" "$(basename "$f")"
done

# The answers as options: box 40-60 N, 5 W to 25 E, 1950-2000, at most a tenth missing.
batch=(--lat 40,60 --lon -5,25 --years 1950-2000 --max-missing 0.1 -o batch --csv sample.csv --netcdf sample.nc
       --report stations.tsv)
echo
echo "=== varnex ${batch[*]} (in $work) ==="
mkdir -p "$work/batch"
(cd "$work" && "$program" "${batch[@]}")
batch_status=$?
echo "=== varnex exited with status $batch_status ==="
[ "$status" -eq 0 ] || batch_status=$status
for name in QORN_TAVEq.TSF QORNTAVEq.YX; do
    if cmp -s "$work/$name" "$work/batch/$name"; then
        echo "batch/$name is byte for byte the dialogue's $name"
    else
        echo "batch/$name differs from the dialogue's $name"
        batch_status=1
    fi
done

# The same run on the archive as it is shipped, data.txt compressed: the same bytes.
gz_batch=(--lat 40,60 --lon -5,25 --years 1950-2000 --max-missing 0.1 -C gz -o gz/out --csv gz/sample.csv
          --report gz/stations.tsv)
echo
echo "=== varnex ${gz_batch[*]} (gz/ holds data.txt.gz, in $work) ==="
mkdir -p "$work/gz/out"
cp "$work/site_summary.txt" "$work/gz/"
gzip -c "$work/data.txt" > "$work/gz/data.txt.gz"
(cd "$work" && "$program" "${gz_batch[@]}")
gz_status=$?
echo "=== varnex exited with status $gz_status ==="
[ "$gz_status" -eq 0 ] || batch_status=$gz_status
for pair in "batch/QORN_TAVEq.TSF gz/out/QORN_TAVEq.TSF" "batch/QORNTAVEq.YX gz/out/QORNTAVEq.YX" \
            "sample.csv gz/sample.csv" "stations.tsv gz/stations.tsv"; do
    read -r plain compressed <<<"$pair"
    if cmp "$work/$plain" "$work/$compressed"; then
        echo "$compressed is byte for byte $plain"
    else
        batch_status=1
    fi
done
echo
echo "=== head of sample.csv ==="
head -n 8 "$work/sample.csv"
echo
echo "=== head of stations.tsv ==="
head -n 8 "$work/stations.tsv"
echo
echo "=== ncdump -h sample.nc ==="
if command -v ncdump >/dev/null 2>&1; then
    ncdump -h "$work/sample.nc"
else
    echo "(ncdump not found: apt-get install netcdf-bin)"
fi
echo
echo "The files are in $work"
exit "$batch_status"
