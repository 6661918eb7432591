#!/usr/bin/env bash
# Checks that a minimal Debian needs nothing but make: a bookworm root made by
# `debootstrap --variant=minbase` gets make alone, then runs the README's two commands,
# `make demo` and `make test`, on the committed tree (HEAD), with CI=true so that a test
# missing a tool fails instead of being skipped. Not part of the suite or of CI: it takes
# a network mirror, root and the better part of an hour.
# Usage: sudo bash tools/fresh_debian_check.sh [WORK_DIR]
#   WORK_DIR    where the root is made (default: a new directory under /var/tmp), removed
#               at the end unless KEEP=1
#   MIRROR      the Debian mirror (default: the first one this machine's apt uses)
#   JOBS        passed to make (default 1)
set -euo pipefail

suite=bookworm
repository=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-1}

if [ "$(id -u)" != 0 ]; then
    echo "run as root: debootstrap, chroot and mount need it" >&2
    exit 2
fi
work=${1:-$(mktemp -d /var/tmp/varnex-fresh.XXXXXX)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
root=$work/root

if [ -z "${MIRROR:-}" ]; then
    MIRROR=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -nE 's/^URIs:[[:space:]]*([^[:space:]]+).*/\1/p; s/^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+).*/\2/p' |
        grep -v -- -security | head -n 1) || true
    MIRROR=${MIRROR:-http://deb.debian.org/debian}
fi

step() { echo "=== $(date -u +%H:%M:%S) $*"; }

# Everything mounted under the root goes, deepest first, before anything is removed.
mounted() { awk -v root="$root" '$2 == root || index($2, root "/") == 1 { print $2 }' /proc/mounts | sort -r; }
cleanup() {
    local point
    for point in $(mounted); do umount -l "$point" || true; done
    if [ "${KEEP:-}" != 1 ] && [ -z "$(mounted)" ]; then
        rm -rf --one-file-system "$work"
    elif [ -d "$work" ]; then
        echo "kept $work"
    fi
}
trap cleanup EXIT

if ! command -v debootstrap >/dev/null 2>&1; then
    step "installing debootstrap"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

step "debootstrap --variant=minbase $suite from $MIRROR"
debootstrap --variant=minbase "$suite" "$root" "$MIRROR" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 30 "$work/debootstrap.log"; exit 1; }
echo "deb $MIRROR $suite main" >"$root/etc/apt/sources.list"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --rbind /dev "$root/dev"
mount --make-rslave "$root/dev"
mountpoint -q "$root/dev/shm" || mount -t tmpfs shm "$root/dev/shm"

step "copying the committed tree (HEAD) of $repository"
mkdir -p "$root/root/varnex"
git -C "$repository" archive HEAD | tar -x -C "$root/root/varnex"

in_root() {
    chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive CI=true "$@"
}

step "apt-get install make (and nothing else)"
in_root apt-get update -qq
in_root apt-get install -y -qq --no-install-recommends make >/dev/null

status=0
for target in demo test; do
    step "make $target JOBS=$jobs"
    if in_root /bin/bash -c "cd /root/varnex && make $target JOBS=$jobs"; then
        step "make $target: passed"
    else
        step "make $target: FAILED"
        status=1
    fi
done
exit "$status"
