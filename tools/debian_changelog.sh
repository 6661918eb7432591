#!/bin/sh
# Writes the Debian changelog of the package (gzip -9n) from CHANGELOG.md: one entry per
# version section, its ### headings as "Added:", "Changed:" ... and its items as "*"
# items wrapped within 78 columns. A released section needs a date in its heading
# ("## [1.0.0] - 2026-12-08"). The [Unreleased] section becomes an UNRELEASED entry dated
# $SOURCE_DATE_EPOCH (else now): of VERSION while CHANGELOG.md has no section of it yet,
# else of VERSION+unreleased, the changes made since.
# Usage: sh debian_changelog.sh CHANGELOG.md PACKAGE VERSION "NAME <ADDRESS>" OUTPUT.gz
set -eu

if [ $# -ne 5 ]; then
    echo "usage: sh $0 CHANGELOG.md PACKAGE VERSION \"NAME <ADDRESS>\" OUTPUT.gz" >&2
    exit 2
fi
source=$1
package=$2
version=$3
maintainer=$4
output=$5

trap 'rm -f "$output.tmp"' EXIT
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    now=$(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
else
    now=$(LC_ALL=C date -u -R)
fi

LC_ALL=C awk -v package="$package" -v version="$version" -v maintainer="$maintainer" -v now="$now" '
function fail(message) {
    printf "%s:%d: %s\n", FILENAME, FNR, message > "/dev/stderr"
    failed = 1
    exit 1
}
# The item or paragraph gathered so far, wrapped: "  * " before its first line, four
# blanks before the others (two before each line of a plain paragraph).
function flush(    count, words, i, line, lead) {
    if (text == "") return
    gsub(/`/, "", text)
    count = split(text, words, " ")
    lead = bullet ? "  * " : "  "
    line = ""
    for (i = 1; i <= count; i++) {
        if (line != "" && length(lead line " " words[i]) > 78) {
            out = out lead line "\n"
            lead = bullet ? "    " : "  "
            line = ""
        }
        line = line == "" ? words[i] : line " " words[i]
    }
    out = out lead line "\n"
    text = ""
}
function blank_line() {
    if (out != "" && out !~ /\n\n$/ && out !~ /urgency=medium\n$/) out = out "\n"
}
function close_entry() {
    flush()
    if (!in_entry) return
    sub(/\n+$/, "\n", out)
    printf "%s\n -- %s  %s\n", out, maintainer, date
    out = ""
    in_entry = 0
    entries++
}
function rfc2822(day,    command, result) {
    command = "LC_ALL=C date -u -R -d \"" day " 00:00:00 UTC\""
    if ((command | getline result) <= 0) fail("bad date " day)
    close(command)
    return result
}
FNR == 1 {
    # A first pass finds whether VERSION has a section of its own.
    while ((getline line < FILENAME) > 0)
        if (line ~ "^## \\[" version "\\]") released = 1
    close(FILENAME)
}
/^## \[/ {
    close_entry()
    name = $0
    sub(/^## \[/, "", name)
    sub(/\].*/, "", name)
    if (name == "Unreleased") {
        entry_version = released ? version "+unreleased" : version
        distribution = "UNRELEASED"
        date = now
    } else {
        if (!match($0, /[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]/))
            fail("section [" name "] has no date (## [" name "] - YYYY-MM-DD)")
        entry_version = name
        distribution = "unstable"
        date = rfc2822(substr($0, RSTART, RLENGTH))
    }
    if (printed_version[entry_version]++) fail("a second section of " entry_version)
    if (entry_version == version) found = 1
    if (entries > 0) printf "\n"
    out = package " (" entry_version ") " distribution "; urgency=medium\n\n"
    in_entry = 1
    next
}
!in_entry { next }
/^### / {
    flush()
    blank_line()
    heading = $0
    sub(/^### +/, "", heading)
    out = out "  " heading ":\n"
    next
}
/^[-*] / {
    flush()
    bullet = 1
    text = substr($0, 3)
    next
}
/^[ \t]*$/ {
    flush()
    next
}
{
    line = $0
    sub(/^[ \t]+/, "", line)
    if (text == "") bullet = 0
    text = text == "" ? line : text " " line
}
END {
    if (failed) exit 1
    close_entry()
    if (!found) {
        printf "%s: no section for version %s, nor [Unreleased]\n", FILENAME, version > "/dev/stderr"
        exit 1
    }
}
' "$source" >"$output.tmp"
gzip -9n <"$output.tmp" >"$output"
