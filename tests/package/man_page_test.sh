#!/usr/bin/env bash
# A man page against its program: every option that `PROGRAM --help` prints is in the page,
# the page's version is the program's (what `PROGRAM --version` says, or VERSION_TEXT for a
# program without --version), and groff finds nothing to warn about.
# Usage: bash man_page_test.sh PROGRAM MAN_PAGE [VERSION_TEXT]
# Exits 77 (skipped) when groff is missing, unless CI=true, where that is a failure.
set -u

if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    echo "usage: bash $0 PROGRAM MAN_PAGE [VERSION_TEXT]" >&2
    exit 2
fi
program=$1
page=$2
status=0

help=$("$program" --help) || { echo "FAIL: $program --help exited with $?"; exit 1; }
if [ $# -eq 3 ]; then
    version=$3
else
    version=$("$program" --version) || { echo "FAIL: $program --version exited with $?"; exit 1; }
fi

# The page as a reader sees its words: minus signs and font changes unescaped.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' -e 's/\\&//g' "$page")

options=$(grep -oE '(^|[ ,])--?[A-Za-z][A-Za-z-]*' <<<"$help" | sed -E 's/^[ ,]//' | sort -u)
if [ -z "$options" ]; then
    echo "FAIL: no options found in the output of --help"
    exit 1
fi
count=0
for option in $options; do
    count=$((count + 1))
    if ! grep -qE -- "(^|[^A-Za-z0-9-])$option([^A-Za-z0-9-]|\$)" <<<"$text"; then
        echo "FAIL: $option is in --help but not in $page"
        status=1
    fi
done
echo "checked $count options of --help against the man page"

if ! grep -qF "\"$version\"" <<<"$(grep '^\.TH ' "$page")"; then
    echo "FAIL: the .TH line of $page does not name \"$version\""
    status=1
fi

if ! command -v groff >/dev/null 2>&1; then
    if [ "${CI:-}" = true ]; then
        echo "FAIL: groff not found (needed under CI=true)"
        exit 1
    fi
    echo "groff not found: the check for roff warnings is skipped"
    [ "$status" -eq 0 ] && exit 77
    exit "$status"
fi
warnings=$(groff -ww -z -man "$page" 2>&1)
if [ -n "$warnings" ]; then
    echo "FAIL: groff -ww -z -man warns:"
    echo "$warnings"
    status=1
fi
exit "$status"
