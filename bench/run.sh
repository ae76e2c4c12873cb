#!/bin/sh
# Builds the Release tree and runs the print processor's benchmarks: KQPRINT through the stand-in spooler,
# side by side with the bare pass-through processor and memcpy, for text, receipt and raster jobs of 1 KiB
# to 64 MiB. Prints Google Benchmark's results, then the summary tables (also written to
# $BUILD_DIR/bench-latest.md). Then the printer application's (kqapp_bench): its raster step, and Print-Job
# to the device beside Debian's LPrint. Takes about eight minutes on two cores.
#
#   bench/run.sh [extra Google Benchmark options, e.g. --benchmark_filter=raster]
#
# Environment: BUILD_DIR (default build/bench), KQ_BENCH_REPETITIONS (default 3), KQ_BENCH_MIN_TIME
# (seconds of measured time per repetition, default 0.5), KQ_BENCH_MAX_SIZE (largest job in bytes).
set -eu
cd "$(dirname "$0")/.."

build="${BUILD_DIR:-build/bench}"
repetitions="${KQ_BENCH_REPETITIONS:-3}"
min_time="${KQ_BENCH_MIN_TIME:-0.5}"
max_size="${KQ_BENCH_MAX_SIZE:-67108864}"

scripts/setup.sh --linux
# Google Benchmark, and Debian's LPrint, the printer application kqapp is measured beside
missing=""
for p in libbenchmark-dev lprint libpappl-dev libpoppler-cpp-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "run.sh: installing$missing" >&2
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKQ_BUILD_TESTS=OFF -DKQ_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target kqbench kqapp_bench

echo "== machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p'), $(free -g | awk '/^Mem:/ {print $2}') GiB;" \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/kqbench" \
    --benchmark_repetitions="$repetitions" \
    --benchmark_min_time="$min_time" \
    --benchmark_display_aggregates_only=true \
    --kq_max_size="$max_size" \
    --kq_table="$build/bench-latest.md" \
    "$@"
echo "== the printer application beside LPrint"
"$build/bin/kqapp_bench" \
    --benchmark_repetitions="$repetitions" \
    --benchmark_display_aggregates_only=true \
    "$@"
