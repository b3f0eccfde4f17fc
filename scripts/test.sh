#!/usr/bin/env bash
# Builds everything and runs every test: the normal build (with the window and
# its tests, on the offscreen platform), then every test again under
# AddressSanitizer and UndefinedBehaviorSanitizer, the core's tests under
# ThreadSanitizer, then a bounded fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh build gui fuzz
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_GUI=ON -DMORVANE_TESTS=ON >/dev/null
cmake --build build -j "$jobs"
QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON -DMORVANE_GUI=ON -DMORVANE_TESTS=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 QT_QPA_PLATFORM=offscreen \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The threads of a conversion (the save beside the load, parallel batches)
# under ThreadSanitizer; the window has no threads of its own.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON -DMORVANE_GUI=OFF -DMORVANE_TESTS=ON >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j "$jobs"

if [ -x scripts/fuzz.sh ]; then
  bash scripts/fuzz.sh "${MORVANE_FUZZ_SECONDS:-120}"
fi
