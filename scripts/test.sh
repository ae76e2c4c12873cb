#!/bin/sh
# Builds the three configurations and runs every test:
#   the main command (scripts/run-sample.sh) in a fresh Debian 12 root, as a newcomer's machine runs it;
#   Linux (g++): the build kqspool ships in, and a second one under AddressSanitizer, LeakSanitizer and
#                UBSan whose tests run (unit, stand-in, monitor, end to end through kqspool, the fault
#                sweeps); the race test of the pump under ThreadSanitizer;
#   Linux (clang): the fuzz targets, their seeds and regressions replayed and a short fuzzing run;
#   Windows x86: built, and its binaries inspected (format, exports, imports; 32-bit cannot run here);
#   Windows x64: built, its unit tests run under wine64, and jobs printed through Wine's own spooler
#                compared with kqspool's output;
# then checks that the committed jobs of the npm encoders are what those pinned encoders make.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
step() { printf '\n== %s\n' "$*"; }

step "The main command on a fresh Debian 12 machine"
scripts/fresh-check.sh

step "Linux build"
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$jobs"
(cd build/linux && ctest --output-on-failure -j "$jobs")

step "Linux build with sanitizers"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan -j "$jobs"
(cd build/linux-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 ctest --output-on-failure -j "$jobs")

step "Linux build with ThreadSanitizer: pause, resume and cancel racing the pump"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan -j "$jobs"
(cd build/linux-tsan && ctest --output-on-failure -R '^hardening_race_tests$')

step "Fuzzing with libFuzzer, AddressSanitizer and UBSan (short run)"
scripts/fuzz.sh --short

step "Windows x86 build"
cmake --preset mingw-x86 >/dev/null
cmake --build --preset mingw-x86 -j "$jobs"
(cd build/mingw-x86 && ctest --output-on-failure -j "$jobs")

step "Windows x64 build, tests under wine64"
cmake --preset mingw-x64 -DKQ_LINUX_BUILD_DIR="$PWD/build/linux" >/dev/null
cmake --build --preset mingw-x64 -j "$jobs"
(cd build/mingw-x64 && ctest --output-on-failure -j "$jobs")

step "Jobs of the npm encoders"
tests/clients/regenerate.sh

step "All tests passed"
