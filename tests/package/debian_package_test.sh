#!/usr/bin/env bash
# The Debian packages of a build tree, built by CPack into a temporary directory. varnex
# must name its library dependencies, hold the program, the archive generator, their
# gzipped man pages, the copyright file and the changelog (whose maintainer is the
# package's), and its programs must run once unpacked. python3-varnex, where the module is
# built, must depend on Debian's python3 series and the packages the module imports, hold
# the module where python3 finds it with the same copyright file and changelog, and import
# once unpacked. lintian must report no error and no warning on either.
# Usage: bash debian_package_test.sh BUILD_DIR VERSION PYTHON_MODULE (ON or OFF)
# Exits 77 (skipped) when cpack or the dpkg tools are missing, or only lintian is (after
# the other checks), unless CI=true, where that is a failure.
set -u

if [ $# -ne 3 ]; then
    echo "usage: bash $0 BUILD_DIR VERSION PYTHON_MODULE" >&2
    exit 2
fi
build=$1
version=$2
python_module=$3

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
expected=1
[ "$python_module" = ON ] && expected=2
if [ ${#debs[@]} -ne "$expected" ]; then
    cat "$work/cpack.log"
    echo "FAIL: expected $expected .deb files in $work/out, found ${#debs[@]}"
    exit 1
fi
deb=$(ls "$work"/out/varnex_*.deb)
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

# The changelog of `package`, in `doc`, is the program's, signed by its maintainer.
check_changelog() {
    local package=$1 doc=$2 info=$3
    if gzip -dc "$doc/changelog.gz" >"$work/changelog.$package" 2>/dev/null; then
        entries=$(dpkg-parsechangelog -l "$work/changelog.$package" --all 2>&1) || fail "dpkg-parsechangelog: $entries"
        grep -qx "Source: varnex" <<<"$entries" || fail "the changelog of $package is not varnex's"
        grep -qE "^ varnex \($version(\+unreleased)?\) " <<<"$entries" || fail "$package's changelog has no entry of $version"
        maintainer=$(sed -n 's/^ Maintainer: //p' <<<"$info")
        trailer=$(grep -m1 '^ -- ' "$work/changelog.$package")
        [[ $trailer == " -- $maintainer  "* ]] || fail "$package's changelog is signed \"$trailer\", not by $maintainer"
    else
        fail "$package's changelog.gz is not gzipped"
    fi
}

check_changelog varnex "$doc" "$info"

if [ "$python_module" = ON ]; then
    python_deb=$(ls "$work"/out/python3-varnex_*.deb)
    echo "built $(basename "$python_deb")"
    python_info=$(dpkg-deb --info "$python_deb") || fail "dpkg-deb --info python3-varnex"
    grep -qx " Version: $version" <<<"$python_info" || fail "python3-varnex's version is not $version"
    python_depends=$(grep '^ Depends:' <<<"$python_info")
    for needed in 'python3 (>= 3.11)' 'python3 (<< 3.12)' python3-numpy python3-xarray python3-pandas libgomp1; do
        grep -qF "$needed" <<<"$python_depends" || fail "python3-varnex's Depends does not name $needed: $python_depends"
    done
    python_contents=$(dpkg-deb --contents "$python_deb") || fail "dpkg-deb --contents python3-varnex"
    module=./usr/lib/python3/dist-packages/varnex.cpython-311-x86_64-linux-gnu.so
    for path in $module ./usr/share/doc/python3-varnex/copyright ./usr/share/doc/python3-varnex/changelog.gz; do
        grep -qE " ${path//./\\.}\$" <<<"$python_contents" || fail "$path is not in python3-varnex"
    done
    dpkg-deb -x "$python_deb" "$work/python-root" || fail "dpkg-deb -x python3-varnex"
    cmp -s "$work/python-root/usr/share/doc/python3-varnex/copyright" "$doc/copyright" ||
        fail "python3-varnex's copyright file is not varnex's"
    check_changelog python3-varnex "$work/python-root/usr/share/doc/python3-varnex" "$python_info"
    said=$(cd / && PYTHONPATH="$work/python-root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
        'import varnex; print(varnex.__version__)' 2>&1)
    [ "$said" = "$version" ] || fail "the unpacked module's __version__ is \"$said\", not $version"
fi

lintian_skipped=false
if command -v lintian >/dev/null 2>&1; then
    for package in "$deb" ${python_deb:+"$python_deb"}; do
        if ! report=$(lintian --fail-on error,warning "$package" 2>&1); then
            echo "$report"
            fail "lintian reports errors or warnings on $(basename "$package")"
        fi
    done
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
