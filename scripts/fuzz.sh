#!/usr/bin/env bash
# Runs the libFuzzer target for a bounded time (seconds, default 120) from the
# seed drawings and the regression files. Anything it finds (crash, leak,
# timeout, out-of-memory) is written to fuzz/found/ and fails the run: move the
# file into fuzz/regressions/, where the ordinary tests replay it, and fix it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-120}"
# The program must stay within 2 s and 512 MB on any input under 10 MB (the
# hostile-drawing tests measure the real command line). The fuzzing build runs
# under AddressSanitizer and UndefinedBehaviorSanitizer, several times slower
# and with shadow memory on top, so its limits carry that overhead; a single
# allocation over 512 MB is still a finding.
timeout="${MORVANE_FUZZ_TIMEOUT:-8}"
rss="${MORVANE_FUZZ_RSS_MB:-1536}"

bash scripts/deps.sh fuzz
CXX=clang++ CC=clang cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVANE_FUZZ=ON -DMORVANE_GUI=OFF -DMORVANE_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_jww -j "$(nproc)"

mkdir -p fuzz/corpus-work fuzz/found
log=build-fuzz/fuzz.log
set +e
ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  build-fuzz/fuzz/fuzz_jww fuzz/corpus-work fuzz/seeds fuzz/regressions \
  -max_total_time="$seconds" -timeout="$timeout" -rss_limit_mb="$rss" -malloc_limit_mb=512 -dict=fuzz/jww.dict \
  -artifact_prefix=fuzz/found/ -print_final_stats=1 >"$log" 2>&1
status=$?
set -e
grep -E "^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)" "$log" || true
if [ $status -ne 0 ] || ls fuzz/found/* >/dev/null 2>&1; then
  tail -n 60 "$log"
  echo "fuzz: the fuzzer found a fault; see fuzz/found/ and $log" >&2
  exit 1
fi
echo "fuzz: ${seconds} s without a fault"
