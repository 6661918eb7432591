#!/usr/bin/env bash
# The Debian package of a build tree: built by CPack into a temporary directory, it must
# name its library dependencies, hold the program, the archive generator and the man page,
# and its program must run once unpacked.
# Usage: bash debian_package_test.sh BUILD_DIR VERSION
# Exits 77 (skipped) when cpack or the dpkg tools are missing, unless CI=true, where that
# is a failure.
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
grep -qE ' ./usr/share/man/man1/varnex\.1(\.gz)?$' <<<"$contents" || fail "the man page is not in the package"

dpkg-deb -x "$deb" "$work/root" || fail "dpkg-deb -x"
said=$("$work/root/usr/bin/varnex" --version 2>&1)
[ "$said" = "varnex $version" ] || fail "the unpacked varnex --version says \"$said\", not \"varnex $version\""
"$work/root/usr/bin/varnex-archive" --help >/dev/null 2>&1 || fail "the unpacked varnex-archive --help failed"

if [ "$status" -ne 0 ]; then
    echo "--- dpkg-deb --info"
    echo "$info"
    echo "--- dpkg-deb --contents"
    echo "$contents"
fi
exit "$status"
