#!/bin/sh
# Installs what building and testing the kit needs on Debian 12, when it is missing.
#   scripts/setup.sh          everything (Linux build, tests, Windows cross builds, wine64, Node.js)
#   scripts/setup.sh --linux  only what the Linux build and kqspool need
set -eu

# libpng, the console fonts and Unifont: kqspool's receipt preview
packages="cmake ninja-build g++ pkg-config python3 libpng-dev console-setup-linux unifont"
if [ "${1:-}" != "--linux" ]; then
    packages="$packages googletest libgtest-dev libbenchmark-dev clang libclang-rt-14-dev valgrind
        g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64 wine64 debootstrap
        xvfb xauth fonts-nanum imagemagick
        libpappl-dev libpng-dev libpoppler-cpp-dev cups cups-client cups-filters cups-ipp-utils poppler-utils chromium"
    command -v npm >/dev/null 2>&1 || packages="$packages nodejs npm"
fi

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

echo "setup: installing$missing" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
