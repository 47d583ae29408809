#!/usr/bin/env bash
# Builds the game twice, normally and with AddressSanitizer + UndefinedBehaviorSanitizer, and
# runs every test in both builds, and the browser build's tests against the normal one; then
# runs every fuzz target for a short while (KORDAVEL_FUZZ_SECONDS each, 20 by default; 0 skips
# them).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# The same game in the browser, against the desktop build (tests/web).
scripts/web.sh test

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DKORDAVEL_SANITIZE=ON -DKORDAVEL_BENCH=OFF
cmake --build build-asan -j"$jobs"

# The same replay gives the same final state in the release and the sanitizer builds.
replays=$(mktemp -d)
trap 'rm -rf "$replays"' EXIT
cp -r build/data "$replays/data"
build/kordavel --headless --root "$replays" --ticks 30000 --script tests/replay/hash_game.txt \
    --record "$replays/game.kdr"
release=$(build/kordavel --root "$replays" --replay "$replays/game.kdr" --verify)
sanitized=$(ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    build-asan/kordavel --root "$replays" --replay "$replays/game.kdr" --verify)
if [ "$release" != "$sanitized" ]; then
    echo "replay hash: release build $release, sanitizer build $sanitized" >&2
    exit 1
fi
echo "replay hash $release in both builds"

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"

fuzz_seconds=${KORDAVEL_FUZZ_SECONDS:-20}
if [ "$fuzz_seconds" -gt 0 ]; then
    scripts/fuzz.sh "$fuzz_seconds"
fi
