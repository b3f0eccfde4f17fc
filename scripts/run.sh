#!/usr/bin/env bash
# Builds the command-line program and runs the batch conversion: the drawings
# named on the command line, or the sample drawings in samples/ when none is
# named, with the sample settings, into out/. Then shows one result.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/deps.sh build
cmake -S . -B build-cli -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_GUI=OFF -DMORVANE_TESTS=OFF >/dev/null
cmake --build build-cli --target morvane-cli -j "$(nproc)"

cli="$root/build-cli/morvane-cli"
mkdir -p out
if [ $# -gt 0 ]; then
  "$cli" --settings samples/morvane.dat --dest out "$@"
else
  "$cli" --settings samples/morvane.dat --dest out samples/*.jww
  first=$(ls -t out/*.jww | head -n 1)
  echo
  "$cli" --show "$first"
fi
