#!/usr/bin/env bash
# The Python module against the command line on the full case: varnex.extract of the
# world for 1950-2000 with at most 10 % missing months, against varnex writing --netcdf
# with the same options, run back to back (ROUNDS times each, alternating); the medians of
# the call alone and of the program, and the memory the call adds: its peak RSS (reset
# through /proc/self/clear_refs just before) less the RSS before it and the nbytes of the
# arrays it returns.
# Usage: bash bench/python_module.sh BUILD_DIR ARCHIVE_DIR [ROUNDS]
set -euo pipefail
build=$(cd "$1" && pwd)
archive=$2
rounds=${3:-5}
out=$(mktemp -d "${TMPDIR:-/tmp}/varnex-python-bench.XXXXXX")
trap 'rm -rf "$out"' EXIT

call=$(cat <<'PY'
import resource, sys, time
import numpy, pandas, xarray
import varnex

def rss_kb(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) for line in f if line.startswith(field))

with open("/proc/self/clear_refs", "w") as f:
    f.write("5")  # the peak RSS starts again from the RSS now
before = rss_kb("VmRSS:")
started = time.perf_counter()
ds = varnex.extract(sys.argv[1], lat=(-90, 90), lon=(-180, 180), years=(1950, 2000), max_missing=0.1)
took = time.perf_counter() - started
peak = rss_kb("VmHWM:")
arrays = sum(v.nbytes for v in ds.variables.values())
print(f"{took:.3f} {(peak - before) / 1024:.1f} {arrays / 2**20:.1f} {(peak - before) / 1024 - arrays / 2**20:.1f}"
      f" {ds.sizes['station']}")
PY
)

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((i = 1; i <= rounds; i++)); do
    PYTHONPATH=$build /usr/bin/python3 -c "$call" "$archive" >>"$out/module"
    started=$(date +%s.%N)
    "$build/varnex" -q -C "$archive" --lat -90,90 --lon -180,180 --years 1950-2000 --max-missing 0.1 --no-tsf \
        --netcdf "$out/world.nc"
    echo "$(date +%s.%N) - $started" | bc >>"$out/program"
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "module calls (s, MB added at peak, MB of arrays, MB beyond the arrays, stations):"
cat "$out/module"
echo "median call:    $(cut -d' ' -f1 "$out/module" | median) s"
echo "program runs (s): $(tr "\n" " " <"$out/program")"
echo "median program: $(median <"$out/program") s"
echo "median MB beyond the arrays: $(cut -d' ' -f4 "$out/module" | median)"
