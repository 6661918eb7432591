#!/usr/bin/env bash
# Runs varnex once on the sample archive, in a fresh temporary directory, with the
# answers of answers.txt, then shows what the run wrote.
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
echo
echo "The files are in $work"
exit "$status"
