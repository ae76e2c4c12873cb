#!/bin/sh
# Fuzzes the print processor with libFuzzer under AddressSanitizer and UBSan (preset linux-fuzz):
#   pump_fuzz    a job, its copies and resolution through the whole processor and the stand-in spooler
#   params_fuzz  the parameter lookup
#   preview_fuzz kqspool's receipt preview: any stream, paper width and resolution
#   vkqt50_fuzz  the virtual printer's model: any bytes off the line in any pieces, among paper, cover,
#                off-line, error and drawer changes
#   kqapp_raster_fuzz  the printer application's raster step: a raster stream's pages checked and turned
#                into GS v 0 bands and the print processor's directives
#
#   scripts/fuzz.sh --short            replay the seeds and regressions, then the targets for about 120 s
#   scripts/fuzz.sh --long [SECONDS]   the targets for SECONDS in all (default 3600): three fifths for
#                                      pump_fuzz, a tenth each for preview_fuzz, vkqt50_fuzz and
#                                      kqapp_raster_fuzz, the rest for params_fuzz (a hundred times
#                                      faster)
#   scripts/fuzz.sh --replay           only replay the seeds and regressions
#
# Inputs are of up to 4 KB: the processor keeps little state between commands, and longer inputs only
# slow the fuzzer down. Two workers per target, or KQ_FUZZ_WORKERS. Any finding fails the run; its input is kept in
# tests/fuzz/regressions/<target>/, where the replay (ctest in the fuzz build, and every run of this
# script) keeps running it. The working corpus grows in <build>/fuzz-work/ and is not committed; the
# seeds are made by tests/fuzz/make_seeds.py.
# KQ_FUZZ_BUILD names another build folder than build/linux-fuzz (configured like the preset).
set -eu
cd "$(dirname "$0")/.."
src=$PWD

mode=${1:---short}
case "$mode" in
--short) total=100 ;;
--long) total=${2:-3600} ;;
--replay) total=0 ;;
*)
    echo "usage: scripts/fuzz.sh --short | --long [SECONDS] | --replay" >&2
    exit 2
    ;;
esac

build=${KQ_FUZZ_BUILD:-build/linux-fuzz}
workers=${KQ_FUZZ_WORKERS:-2}
if [ "$build" = build/linux-fuzz ]; then
    cmake --preset linux-fuzz >/dev/null
    cmake --build --preset linux-fuzz -j 2
else
    cmake --build "$build" -j 2 --target pump_fuzz params_fuzz preview_fuzz vkqt50_fuzz kqapp_raster_fuzz
fi
case "$build" in
/*) ;;
*) build=$src/$build ;;
esac
bin=$build/bin

echo "fuzz: replaying seeds and regressions"
ctest --test-dir "$build/tests/fuzz" --output-on-failure

[ "$total" -gt 0 ] || exit 0

findings=0
summary=""
# run <target> <seconds> [libFuzzer options]
run() {
    target=$1
    seconds=$2
    shift 2
    work=$build/fuzz-work/$target
    regressions=$src/tests/fuzz/regressions/$target
    mkdir -p "$work/corpus" "$regressions"
    rm -f "$work"/fuzz-*.log
    dict=""
    [ -f "$src/tests/fuzz/$target.dict" ] && dict="-dict=$src/tests/fuzz/$target.dict"
    before=$(ls "$regressions" | wc -l)
    echo "fuzz: $target for $seconds s, $workers worker(s)"
    start=$(date +%s)
    status=0
    # shellcheck disable=SC2086
    (cd "$work" && "$bin/${target}_fuzz" -jobs="$workers" -workers="$workers" -max_total_time="$seconds" -timeout=120 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$regressions/" $dict "$@" \
        corpus "$src/tests/fuzz/seeds/$target" "$regressions" >"$work/run.log" 2>&1) || status=$?
    end=$(date +%s)
    execs=0
    for log in "$work"/fuzz-*.log; do
        [ -f "$log" ] || continue
        n=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
        execs=$((execs + ${n:-0}))
        if grep -Eq '^==[0-9]+==.*ERROR|^SUMMARY: |runtime error:|^(pump|preview|vkqt50|kqapp_raster)_fuzz: ' "$log"; then
            status=1
            grep -E '^==[0-9]+==.*ERROR|^SUMMARY: |runtime error:|^(pump|preview|vkqt50|kqapp_raster)_fuzz: ' "$log" | sed "s|^|fuzz: $target: |" >&2
        fi
    done
    after=$(ls "$regressions" | wc -l)
    if [ "$status" -ne 0 ] || [ "$after" -ne "$before" ]; then
        findings=$((findings + 1))
        echo "fuzz: $target FOUND A FAULT; logs in $work, inputs in $regressions" >&2
    fi
    line="$target: $execs executions in $((end - start)) s"
    echo "fuzz: $line"
    summary="$summary
  $line"
}

# libcups, reading a raster page's header, allocates a line of the size the header gives (up to 4 GiB,
# never touched) before the raster step sees the header and refuses more than 64 KiB a line
raster_options="-malloc_limit_mb=5000"
if [ "$mode" = --short ]; then
    run pump 40
    run params 20
    run preview 20
    run vkqt50 20
    run kqapp_raster 20 $raster_options
else
    pump=$((total * 3 / 5))
    preview=$((total / 10))
    vkqt50=$((total / 10))
    raster=$((total / 10))
    run pump "$pump"
    run preview "$preview"
    run vkqt50 "$vkqt50"
    run kqapp_raster "$raster" $raster_options
    run params "$((total - pump - preview - vkqt50 - raster))"
fi

printf 'fuzz: summary (%s)%s\n' "$mode" "$summary"
if [ "$findings" -ne 0 ]; then
    echo "fuzz: $findings target(s) found faults" >&2
    exit 1
fi
