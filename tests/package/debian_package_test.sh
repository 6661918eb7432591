#!/usr/bin/env bash
# The Debian package of a build tree: built by CPack into a temporary directory, it must
# name its library dependencies, hold the program, the archive generator, their gzipped
# man pages, the copyright file and the changelog (whose maintainer is the package's),
# its programs must run once unpacked, and lintian must report no error and no warning.
# Usage: bash debian_package_test.sh BUILD_DIR VERSION
# Exits 77 (skipped) when cpack or the dpkg tools are missing, or only lintian is (after
# the other checks), unless CI=true, where that is a failure.
set -u

if [ $# -ne 2 ]; then
    echo "usage: bash $0 BUILD_DIR VERSION" >&2
    exit 2
fi
build=$1
version=$2

for tool in cpack dpkg-deb dpkg-shlibdeps; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        if [ "${CI:-}" = true ]; then
            echo "FAIL: $tool not found (needed under CI=true)"
            exit 1
        fi
        echo "$tool not found (cmake, dpkg-dev): the package test is skipped"
        exit 77
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnex-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack could not build the package"
    exit 1
fi
shopt -s nullglob
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ]; then
    cat "$work/cpack.log"
    echo "FAIL: expected one .deb in $work/out, found ${#debs[@]}"
    exit 1
fi
deb=${debs[0]}
echo "built $(basename "$deb")"

info=$(dpkg-deb --info "$deb") || fail "dpkg-deb --info"
grep -qx ' Package: varnex' <<<"$info" || fail "the package is not named varnex"
grep -qx " Version: $version" <<<"$info" || fail "the package version is not $version"
depends=$(grep '^ Depends:' <<<"$info")
for library in libc6 libgomp1 libstdc++6; do
    grep -q "$library" <<<"$depends" || fail "Depends does not name $library: $depends"
done

contents=$(dpkg-deb --contents "$deb") || fail "dpkg-deb --contents"
for path in ./usr/bin/varnex ./usr/bin/varnex-archive; do
    grep -qE " $path\$" <<<"$contents" || fail "$path is not in the package"
done
for path in ./usr/share/man/man1/varnex.1.gz ./usr/share/man/man1/varnex-archive.1.gz \
    ./usr/share/doc/varnex/copyright ./usr/share/doc/varnex/changelog.gz; do
    grep -qE " ${path//./\\.}\$" <<<"$contents" || fail "$path is not in the package"
done

dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
said=$("$work/root/usr/bin/varnex" --version 2>&1)
[ "$said" = "varnex $version" ] || fail "the unpacked varnex --version says \"$said\", not \"varnex $version\""
said=$("$work/root/usr/bin/varnex-archive" --help 2>&1) || fail "the unpacked varnex-archive --help failed"
[[ $said == "usage: varnex-archive "* ]] || fail "varnex-archive --help does not begin with its name: ${said%%$'\n'*}"

doc=$work/root/usr/share/doc/varnex
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$doc/copyright" &&
    grep -q '^License: BSD-3-Clause' "$doc/copyright" ||
    fail "the copyright file is not BSD-3-Clause in the machine-readable format"
if gzip -dc "$doc/changelog.gz" >"$work/changelog" 2>/dev/null; then
    entries=$(dpkg-parsechangelog -l "$work/changelog" --all 2>&1) || fail "dpkg-parsechangelog: $entries"
    grep -qx "Source: varnex" <<<"$entries" || fail "the changelog is not varnex's"
    grep -qE "^ varnex \($version(\+unreleased)?\) " <<<"$entries" || fail "the changelog has no entry of $version"
    maintainer=$(sed -n 's/^ Maintainer: //p' <<<"$info")
    trailer=$(grep -m1 '^ -- ' "$work/changelog")
    [[ $trailer == " -- $maintainer  "* ]] || fail "the changelog is signed \"$trailer\", not by $maintainer"
else
    fail "changelog.gz is not gzipped"
fi

lintian_skipped=false
if command -v lintian >/dev/null 2>&1; then
    if ! report=$(lintian --fail-on error,warning "$deb" 2>&1); then
        echo "$report"
        fail "lintian reports errors or warnings"
    fi
elif [ "${CI:-}" = true ]; then
    fail "lintian not found (needed under CI=true)"
else
    echo "lintian not found: the package is not checked by lintian"
    lintian_skipped=true
fi

if [ "$status" -ne 0 ]; then
    echo "--- dpkg-deb --info"
    echo "$info"
    echo "--- dpkg-deb --contents"
    echo "$contents"
fi
[ "$status" -eq 0 ] && [ "$lintian_skipped" = true ] && exit 77
exit "$status"
