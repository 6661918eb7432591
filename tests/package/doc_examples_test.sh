#!/usr/bin/env bash
# The examples of the README's "Command line" section and of the man page's EXAMPLES, run
# as a reader would run them, so that the documents and this test cannot drift apart.
#
# Every example on a Valmora archive (~/valmora, /data/valmora) is followed by its twin on
# the bundled sample: in the README a ```sh block whose first line begins with
# "# On the bundled sample", in the man page the .nf block after a paragraph that begins
# with "On the bundled sample". Each twin runs under bash -e, in document order, in one
# scratch directory holding a copy of examples/sample, with the varnex under test first on
# PATH. A twin must end with status 0, start varnex at least once, every varnex it starts
# must end with status 0, and every output it writes must hold at least one saved station.
# Then the README's other blocks of the section run on what the twins wrote: its sh blocks
# (ncdump) must end with status 0, and in its python blocks every DataFrame, Series,
# DataArray or Dataset they make, and the value of their last expression, must hold at
# least one value that is not missing.
#
# Usage: bash doc_examples_test.sh VARNEX SOURCE_DIR
# Exits 77 (skipped) when python3 (/usr/bin/python3, or PYTHON) with pandas, xarray and
# netCDF4, or a command a block starts with (ncdump), is missing, unless CI=true, where that
# is a failure.
set -u

if [ $# -ne 2 ]; then
    echo "usage: bash $0 VARNEX SOURCE_DIR" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_dir=$(cd "$2" && pwd)
readme=$source_dir/README.md
page=$source_dir/man/varnex.1
if [ ! -x "$program" ]; then
    echo "FAIL: $1 is not an executable program"
    exit 1
fi

status=0
missing=""
fail() {
    echo "FAIL: $*"
    status=1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-doc-examples.XXXXXX")
trap 'rm -rf "$work"' EXIT
blocks=$work/blocks
run=$work/run
bin=$work/bin
mkdir -p "$blocks" "$run/examples" "$bin"
cp -R "$source_dir/examples/sample" "$run/examples/sample"
cp "$source_dir/examples/selections.txt" "$run/examples/selections.txt"

# varnex on PATH is the program under test, and every run's status is logged: a twin may
# hide a failed run from its own status (`varnex ... || echo failed`).
statuses=$work/statuses
cat >"$bin/varnex" <<EOF
#!/usr/bin/env bash
$(printf '%q' "$program") "\$@"
status=\$?
echo "\$status" >>$(printf '%q' "$statuses")
exit "\$status"
EOF
chmod +x "$bin/varnex"

# The fenced blocks of the README's "Command line" section, one file each, named
# NN.LANGUAGE in document order.
awk -v dir="$blocks/readme" '
    BEGIN { system("mkdir -p \"" dir "\"") }
    !fence && /^## / { section = ($0 == "## Command line"); next }
    !section { next }
    !fence && /^```/ {
        n++
        lang = substr($0, 4)
        if (lang == "") lang = "text"
        file = sprintf("%s/%02d.%s", dir, n, lang)
        printf "" >file
        fence = 1
        next
    }
    fence && /^```$/ { close(file); fence = 0; next }
    fence { print >file }
' "$readme"

# The .nf blocks of the man page's EXAMPLES, one file each, NN.roff in document order, and
# NN.twin beside those after a paragraph that begins "On the bundled sample".
awk -v dir="$blocks/man" '
    BEGIN { system("mkdir -p \"" dir "\"") }
    /^\.SH / { section = ($0 == ".SH EXAMPLES"); next }
    !section { next }
    !fill && /^On the bundled sample/ { twin = 1 }
    /^\.nf/ {
        n++
        file = sprintf("%s/%02d.roff", dir, n)
        printf "" >file
        if (twin) { printf "" >(sprintf("%s/%02d.twin", dir, n)) }
        fill = 1
        next
    }
    /^\.fi/ { close(file); fill = 0; twin = 0; next }
    fill { print >file }
' "$page"

# The man page's blocks as a reader sees them; a roff escape left in a twin is one this
# test does not know.
for file in "$blocks"/man/*.roff; do
    [ -e "$file" ] || continue
    sed -e 's/\\-/-/g' -e "s/\\\\(aq/'/g" -e 's/\\&//g' -e 's/\\e/\\/g' "$file" >"${file%.roff}.sh"
    if [ -e "${file%.roff}.twin" ] && grep -n '\\.' "${file%.roff}.sh"; then
        fail "man page block $(basename "$file" .roff): a roff escape other than \\- \\e \\(aq \\&"
    fi
done

is_twin() { # FILE
    case $1 in
        */readme/*.sh) [[ $(head -n 1 "$1") == "# On the bundled sample"* ]] ;;
        */man/*.sh) [ -e "${1%.sh}.twin" ] ;;
        *) return 1 ;;
    esac
}

# Every example on a Valmora archive is followed by its twin; the twins run on the sample.
check_twins() { # DOCUMENT DIRECTORY
    local document=$1 previous="" file count=0
    for file in "$2"/*; do
        case $file in *.roff | *.twin) continue ;; esac
        if [ -n "$previous" ] && ! is_twin "$file"; then
            fail "$document: the example on a Valmora archive in block $(basename "$previous") has no twin right after it"
        fi
        previous=""
        if grep -q valmora "$file"; then
            if is_twin "$file"; then
                fail "$document: the twin in block $(basename "$file") names a Valmora archive"
            else
                previous=$file
            fi
        fi
        if is_twin "$file"; then
            count=$((count + 1))
            if ! grep -q 'examples/sample' "$file"; then
                fail "$document: the twin in block $(basename "$file") does not read examples/sample"
            fi
        fi
    done
    [ -n "$previous" ] && fail "$document: the example on a Valmora archive in block $(basename "$previous") has no twin after it"
    [ "$count" -gt 0 ] || fail "$document: no twin on the bundled sample found"
}
check_twins README.md "$blocks/readme"
check_twins "man page" "$blocks/man"

snapshot() {
    (cd "$run" && find . -path ./examples -prune -o -type f -printf '%p\t%T@\t%s\n' | LC_ALL=C sort)
}

stations_in() { # FILE: prints how many saved stations the output FILE holds, or "" if unknown
    case $1 in
        *.TSF) grep -c 'RFMT=' "$1" ;;
        *.YX) awk 'NR > 1' "$1" | wc -l ;;
        *.csv) awk -F, 'NR > 1 { seen[$1] = 1 } END { print length(seen) }' "$1" ;;
        *.tsv) awk -F'\t' '$4 == "saved"' "$1" | wc -l ;;
        *.nc)
            if command -v ncdump >/dev/null 2>&1; then
                ncdump -h "$1" | sed -nE -e 's/^[[:space:]]*station = ([0-9]+) ;$/\1/p' \
                    -e 's/^[[:space:]]*station = UNLIMITED ; \/\/ \(([0-9]+) currently\)$/\1/p'
            fi
            ;;
    esac
}

run_twin() { # NAME FILE
    local name=$1 file=$2 before after changed path stations found=0 block_status
    before=$(snapshot)
    : >"$statuses"
    (cd "$run" && PATH="$bin:$PATH" bash -e "$file") >"$work/out" 2>"$work/err"
    block_status=$?
    after=$(snapshot)
    if [ "$block_status" -ne 0 ]; then
        fail "$name ended with status $block_status"
        sed 's/^/    | /' "$work/err"
    fi
    if [ ! -s "$statuses" ]; then
        fail "$name did not run varnex"
    elif grep -qv '^0$' "$statuses"; then
        fail "$name: varnex ended with status $(grep -v '^0$' "$statuses" | sort -u | tr '\n' ' ')"
        sed 's/^/    | /' "$work/err"
    fi
    changed=$(LC_ALL=C comm -13 <(echo "$before") <(echo "$after") | cut -f1)
    for path in $changed; do
        case $path in *.tmp-*) fail "$name left the temporary file $path" ;; esac
        stations=$(stations_in "$run/$path")
        [ -n "$stations" ] || continue
        if [ "$stations" -ge 1 ]; then
            found=1
            echo "$name: $path holds $stations saved stations"
        else
            fail "$name: $path holds no saved station"
        fi
    done
    [ "$found" -eq 1 ] || fail "$name wrote no output with a saved station"
}

# The twins, the README's in document order, then the man page's.
for file in "$blocks"/readme/*.sh "$blocks"/man/*.sh; do
    [ -e "$file" ] || continue
    if is_twin "$file"; then
        case $file in */readme/*) doc=README.md ;; *) doc="man page" ;; esac
        run_twin "$doc block $(basename "$file" .sh)" "$file"
    fi
done

# The system's python3 (another one first on PATH may lack the Debian modules), or PYTHON.
python=${PYTHON:-/usr/bin/python3}
[ -x "$python" ] || python=$(command -v python3 || echo python3)
python_ready=0
if "$python" -c 'import pandas, xarray, netCDF4' >/dev/null 2>&1; then
    python_ready=1
fi

# What the python blocks make must hold values: each DataFrame, Series, DataArray or
# Dataset they leave, and the value of their last expression.
cat >"$work/check.py" <<'EOF'
import ast
import sys

import numpy
import pandas
import xarray

path = sys.argv[1]
tree = ast.parse(open(path).read(), path)
namespace = {"__name__": "__main__"}
body, last = tree.body[:-1], tree.body[-1:]
exec(compile(ast.Module(body=body, type_ignores=[]), path, "exec"), namespace)
values = {}
if last and isinstance(last[0], ast.Expr):
    expression = ast.get_source_segment(open(path).read(), last[0].value)
    values[expression] = eval(compile(ast.Expression(last[0].value), path, "eval"), namespace)
else:
    exec(compile(ast.Module(body=last, type_ignores=[]), path, "exec"), namespace)
for name, value in namespace.items():
    if isinstance(value, (pandas.DataFrame, pandas.Series, xarray.DataArray, xarray.Dataset)):
        values[name] = value


def count_values(value):
    """The values that are not missing (an empty selection holds none)."""
    if isinstance(value, xarray.Dataset):
        return sum(count_values(v) for v in value.data_vars.values())
    data = numpy.asarray(value)
    return int(pandas.notna(data).sum()) if data.size else 0


failed = not values
if not values:
    print("FAIL: the block makes no DataFrame, Series, DataArray or Dataset")
for name, value in values.items():
    if isinstance(value, (pandas.DataFrame, pandas.Series, xarray.DataArray, xarray.Dataset)):
        count = count_values(value)
    else:
        print(f"FAIL: {name} is a {type(value).__name__}, not a table or an array")
        failed = True
        continue
    print(f"{name}: {count} values")
    if count == 0:
        print(f"FAIL: {name} holds no value")
        failed = True
sys.exit(1 if failed else 0)
EOF

for file in "$blocks"/readme/*; do
    name="README.md block $(basename "$file")"
    case $file in
        *.python)
            if [ "$python_ready" -eq 0 ]; then
                [[ $missing == *python3* ]] || missing="$missing python3-pandas/xarray/netCDF4"
                echo "$name skipped: $python cannot import pandas, xarray and netCDF4"
                continue
            fi
            (cd "$run" && "$python" "$work/check.py" "$file") >"$work/out" 2>&1
            block_status=$?
            sed "s/^/$name: /" "$work/out"
            [ "$block_status" -eq 0 ] || fail "$name ended with status $block_status"
            ;;
        *.sh)
            is_twin "$file" && continue
            grep -q valmora "$file" && continue
            command=$(grep -vE '^[[:space:]]*(#|$)' "$file" | head -n 1 | awk '{ print $1 }')
            if ! command -v "$command" >/dev/null 2>&1; then
                missing="$missing $command"
                echo "$name skipped: $command not found"
                continue
            fi
            (cd "$run" && PATH="$bin:$PATH" bash -e "$file") >"$work/out" 2>&1
            block_status=$?
            if [ "$block_status" -ne 0 ]; then
                fail "$name ended with status $block_status"
                sed 's/^/    | /' "$work/out"
            else
                echo "$name ran: $(wc -l <"$work/out") lines of output"
            fi
            ;;
    esac
done

if [ -n "$missing" ]; then
    if [ "${CI:-}" = true ]; then
        fail "not found (needed under CI=true):$missing"
    elif [ "$status" -eq 0 ]; then
        exit 77
    fi
fi
exit "$status"
