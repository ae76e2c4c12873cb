#!/usr/bin/env bash
# Runs the kit's main command (scripts/run-sample.sh) in a fresh Debian 12 root (debootstrap, minbase)
# holding this tree as git sees it (tracked files and untracked ones that are not ignored), the way a
# newcomer's machine starts. The main command installs only what `scripts/setup.sh --linux` lists: if
# it comes to need anything else, this fails, however much the machine running the tests has installed.
#
#   scripts/fresh-check.sh            needs root (debootstrap, chroot, mounts)
#
# The minbase root is made once and kept in $KQ_FRESH_BASE (default /var/cache/kqt50/bookworm-minbase);
# each run works on a copy of it and removes the copy.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    echo "fresh-check: needs root (debootstrap, chroot, mounts)" >&2
    exit 1
fi

base=${KQ_FRESH_BASE:-/var/cache/kqt50/bookworm-minbase}
# The machine's own Debian mirror (deb822 sources or a classic sources.list), else Debian's.
mirror=$( (sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null;
    sed -n 's/^deb  *\(http[^ ]*\) .*/\1/p' /etc/apt/sources.list 2>/dev/null) | head -n 1 || true)
mirror=${mirror:-http://deb.debian.org/debian}

if [ ! -f "$base/.ready" ]; then
    command -v debootstrap >/dev/null || {
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
    }
    echo "fresh-check: making a Debian 12 minbase root in $base (a few minutes, once)"
    rm -rf "$base"
    mkdir -p "$base"
    if ! debootstrap --variant=minbase bookworm "$base" "$mirror" >"$base.log" 2>&1; then
        tail -n 20 "$base.log" >&2
        exit 1
    fi
    touch "$base/.ready"
fi

run=$(mktemp -d /var/tmp/kqt50-fresh.XXXXXX)
cleanup() {
    for m in dev sys proc; do
        umount -l "$run/root/$m" 2>/dev/null || true
    done
    rm -rf "$run"
}
trap cleanup EXIT INT TERM
cp -a "$base" "$run/root"
mkdir -p "$run/root/root/project"
# The tree as git sees it, without build folders and whatever else is ignored.
git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
    tar --null -T - -cf - | tar -C "$run/root/root/project" -xf -
cp /etc/resolv.conf "$run/root/etc/resolv.conf" 2>/dev/null || true
mount -t proc proc "$run/root/proc"
mount --rbind /sys "$run/root/sys"
mount --rbind /dev "$run/root/dev"

echo "fresh-check: scripts/run-sample.sh in a fresh Debian 12 root"
log="$run/run.log"
if ! chroot "$run/root" /bin/sh -c 'cd /root/project && scripts/run-sample.sh' >"$log" 2>&1; then
    cat "$log" >&2
    echo "fresh-check: the main command failed on a fresh machine" >&2
    exit 1
fi
cat "$log"
if ! grep -q "The monitor's copy equals the port output." "$log"; then
    echo "fresh-check: the main command ran, but not to its end" >&2
    exit 1
fi
echo "fresh-check: the main command passes on a fresh machine"
