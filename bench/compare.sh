#!/usr/bin/env bash
# Compares two builds of morvane-cli on one drawing, side by side with cat:
# ROUNDS rounds of (first build, second build, cat), each command into a new
# folder, the previous outputs deleted and the disk synced outside the timed
# part. Prints each command's median, lower quartile and minimum wall time.
# On these virtual machines single runs move by a tenth or more (memory the
# host took back is slow to hand out again), so a change of a few percent
# shows only in many interleaved rounds.
#
#   bash bench/compare.sh OLD_CLI NEW_CLI [DRAWING] [ROUNDS]
#
# DRAWING defaults to the L workload of bench/run.sh (run that once first),
# ROUNDS to 21; the settings are the ones bench/run.sh writes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
work="${MORVANE_BENCH_DIR:-$root/bench/work}"
old="$1" new="$2"
src="${3:-$work/src-L/large.jww}"
rounds="${4:-21}"
settings="$work/bench.dat"
[ -f "$src" ] && [ -f "$settings" ] || { echo "run bash bench/run.sh L first (no $src or $settings)" >&2; exit 2; }

out=$(mktemp -d "${TMPDIR:-/tmp}/morvane-compare.XXXXXX")
trap 'rm -rf "$out"' EXIT
declare -A times=()
timed() {  # label command...
  local label="$1"; shift
  rm -rf "${out:?}"/*; sync; sleep 0.2
  mkdir -p "$out/$label"
  local t0=$EPOCHREALTIME
  "$@" >/dev/null
  local t1=$EPOCHREALTIME
  times[$label]+="$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.4f", b - a}') "
}
for ((i = 0; i <= rounds; ++i)); do  # round 0 warms up and is not counted
  timed old "$old" --settings "$settings" --dest "$out/old" "$src"
  timed new "$new" --settings "$settings" --dest "$out/new" "$src"
  timed cat sh -c 'cat "$1" > "$2/copy.jww"' sh "$src" "$out/cat"
  if [ "$i" -eq 0 ]; then times=(); fi
done
for label in old new cat; do
  printf '%s\n' ${times[$label]} | sort -g | awk -v l="$label" '{a[NR] = $1}
    END {printf "%-4s median %.4f s  lower quartile %.4f s  min %.4f s  (%d rounds)\n",
         l, a[int((NR + 1) / 2)], a[int((NR + 3) / 4)], a[1], NR}'
done
