#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz/) and runs each for SECONDS seconds, as
# many at once as there are cores, on its corpus (seeded from the shipped data; what a run finds
# is kept).
# Usage: scripts/fuzz.sh SECONDS [NAME...]   (NAME: graphics, font, sound, level, settings,
# script, replay, net, or any other target; all by default). Prints one line of figures per
# target and exits 1 if any target found a fault; the input that shows it is in
# build-fuzz/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:?usage: scripts/fuzz.sh SECONDS [NAME...]}
shift
build=${KORDAVEL_FUZZ_BUILD:-build-fuzz}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The shipped data of the normal build, when there is one; otherwise this build makes its own.
data=()
[ -f build/data/tank.snd ] && data=(-DKORDAVEL_DATA=OFF -DKORDAVEL_FUZZ_DATA_DIR="$PWD/build/data")
CC=clang CXX=clang++ cmake -S . -B "$build" -DKORDAVEL_FUZZ=ON -DKORDAVEL_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "${data[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

out="$build/fuzz"
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for f in "$out"/fuzz_*; do [ -x "$f" ] && names+=("${f##*/fuzz_}"); done
fi
mkdir -p "$out/findings" "$out/logs"

# run NAME: one target for SECONDS; its log and exit status are kept beside each other.
run() {
    local name=$1 log="$out/logs/$1.log" status=0
    mkdir -p "$out/corpus/$name"
    # A settings file is read line by line and the game's own is about 500 bytes; longer inputs
    # only repeat lines and slow every run down.
    local extra=()
    [ "$name" = settings ] && extra=(-max_len=1024)
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
        "$out/fuzz_$name" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 "${extra[@]}" \
        -artifact_prefix="$out/findings/$name-" "$out/corpus/$name" >"$log" 2>&1 || status=$?
    echo $status >"$out/logs/$name.status"
}

# Each target runs on one core, so as many run at once as there are cores: every target still
# gets its SECONDS, in a fraction of the time.
for name in "${names[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
    run "$name" &
done
wait

failed=0
for name in "${names[@]}"; do
    log="$out/logs/$name.log"
    status=$(cat "$out/logs/$name.status" 2>/dev/null || echo 1)
    # A target that fails while loading its corpus prints no coverage: that must still reach
    # the report below rather than end the script here.
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -1 || true)
    if [ "$status" -ne 0 ]; then
        failed=1
        echo "fuzz_$name: FOUND A FAULT after ${execs:-?} runs; see $log and $out/findings/"
    else
        echo "fuzz_$name: ${execs:-?} runs in ${seconds} s, ${rate:-?} runs/s, $cov"
    fi
done
exit $failed
