#!/bin/sh
# The kit's main job: prints the bundled sample receipt through the stand-in spooler with KQPRINT and
# KQMON, on a simulated machine of its own, and says where the output went. It builds only what it runs
# (the "sample" preset: no tests, no benchmarks; kqspool and the virtual printer), so it needs only what
# `scripts/setup.sh --linux` installs.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh --linux
cmake --preset sample >/dev/null
cmake --build --preset sample >/dev/null
export KQT50_ROOT="${KQT50_ROOT:-$PWD/build/machine}"
out=build/sample-output.prn
build/sample/bin/kqspool print --out "$out" --trace-writes build/sample-writes.txt \
    --preview build/sample-receipt.png samples/receipt.prn
echo "Port output:    $out ($(wc -c <"$out") bytes)"
echo "Preview:        build/sample-receipt.png (the receipt as the KQT-50 prints it)"
echo "Write trace:    build/sample-writes.txt ($(wc -l <build/sample-writes.txt) writes)"
echo "Monitor copy:   $KQT50_ROOT/c/kqt50mon.dat"
cmp -s "$out" "$KQT50_ROOT/c/kqt50mon.dat" && echo "The monitor's copy equals the port output."
