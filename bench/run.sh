#!/usr/bin/env bash
# Whole-process benchmark: times morvane-cli against copying the same files
# (cat SRC > DST for one drawing, one cp for a folder of drawings) in the same
# run, alternating, N runs after a warm-up; reports medians of wall time and of
# CPU time (user + system, less disturbed by other load on the machine), the
# ratios to the copy, and peak resident memory from /usr/bin/time.
#   bash bench/run.sh [L L16 M S] [--runs N] [--jobs N[,N...]]
# With several job counts (--jobs 1,2) each is timed in the same rounds.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

workloads=()
runs=5
jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --jobs) jobs="${2//,/ }"; shift 2 ;;
    *) workloads+=("$1"); shift ;;
  esac
done
[ ${#workloads[@]} -eq 0 ] && workloads=(L L16 M S)

bash scripts/deps.sh build bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DMORVANE_GUI=OFF -DMORVANE_TESTS=OFF \
  -DMORVANE_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
cli="$root/build-bench/morvane-cli"
gen="$root/build-bench/bench/gen_drawing"

work="${MORVANE_BENCH_DIR:-$root/bench/work}"
mkdir -p "$work"

# Settings that tick several options, as a user would (UTF-8 with its
# byte-order mark: without it the file is read as Shift_JIS).
settings="$work/bench.dat"
{
  printf '\xEF\xBB\xBF'
  printf '50\r\n50\r\n560\r\n520\r\n0\r\n0\r\n0\r\n1\r\n\r\n\r\n1\r\n\r\n'
  printf '1\r\nベンチマーク\r\n0\r\n\r\n1\r\n3\r\n'
  printf '0\r\n1\r\n0\r\n1\r\n0\r\n1\r\n'
  printf '1\r\n'; for i in 1 2 3 4 5 6 7 8; do printf '2\r\n'; done
  printf '1\r\n'; for i in 1 2 3 4 5 6 7 8; do printf '25\r\n'; done
  printf '0\r\n1\r\n0\r\n0\r\n1\r\n0\r\n0\r\n1\r\n0.5\r\n1\r\n1\r\n'
  for i in $(seq 1 19); do printf '%s\r\n%s\r\n%s\r\n' $((i * 10)) $((i * 5)) $((255 - i)); done
  printf '0\r\nWindows\r\n0\r\n'
} > "$settings"

make_workload() {  # name -> folder of source drawings
  local name="$1" dir="$work/src-$1"
  if [ -f "$dir/.done" ] && [ "$dir/.done" -nt "$gen" ]; then echo "$dir"; return; fi
  rm -rf "$dir"; mkdir -p "$dir"
  case "$name" in
    L)    "$gen" "$dir/large.jww" L ;;
    L16)  "$gen" "$dir/large16.jww" L --unicode ;;
    S100) "$gen" "$dir/s100.jww" S100 ;;
    S10)  "$gen" "$dir/s10.jww" S10 ;;
    M)    for i in $(seq 1 2000); do "$gen" "$dir/m$i.jww" M --seed "$i"; done ;;
  esac
  touch "$dir/.done"
  echo "$dir"
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

timed() {  # command... -> "wall_s maxrss_kb cpu_s" (wall to the microsecond; /usr/bin/time counts in 10 ms)
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%M %U %S" -o "$work/time.out" "$@" >/dev/null 2>"$work/stderr.out" || {
    echo "command failed: $*" >&2; cat "$work/stderr.out" >&2; exit 1; }
  t1=$(date +%s.%N)
  awk -v a="$t0" -v b="$t1" '{printf "%.4f %s %.2f\n", b - a, $1, $2 + $3}' "$work/time.out"
}

# Outputs of every workload stay until all are timed: deleting thousands of
# files hands the file system work that would land in the commands timed
# next. On ext4 without a journal (as on these machines) creating a file stays
# slow for up to six minutes after thousands were deleted (the allocator
# steps over every recently freed inode), so leave that much time between two
# runs of M. Leftovers of an interrupted run go first.
rm -rf "$work/out"; sync
trap 'rm -rf "$work/out"' EXIT

report() {  # name src-dir
  local name="$1" src="$2" outs="$work/out/$1"
  local files=("$src"/*.jww)
  local bytes; bytes=$(du -cb "${files[@]}" | tail -1 | cut -f1)
  local ct=() cc=()
  declare -A mt=() mc=() mm=()
  # Every timed command writes into a new folder. A single large output is
  # deleted before the next command, so that every command finds its memory
  # as the previous one left it (these virtual machines are slow to hand out
  # memory that has lain unused).
  mkdir -p "$outs"; sync
  local single=0; [ ${#files[@]} -eq 1 ] && single=1
  for i in $(seq 0 "$runs"); do
    local out="$outs/copy$i"
    [ "$single" = 1 ] && rm -rf "$outs"/*
    mkdir -p "$out"; sync
    if [ "$single" = 1 ]; then
      read -r t m c < <(timed sh -c 'cat "$1" > "$2/copy.jww"' sh "${files[0]}" "$out")
    else
      read -r t m c < <(timed cp "${files[@]}" "$out/")
    fi
    [ "$i" -gt 0 ] && { ct+=("$t"); cc+=("$c"); }
    for j in $jobs; do
      out="$outs/run$i-$j"
      [ "$single" = 1 ] && rm -rf "$outs"/*
      mkdir -p "$out"; sync
      read -r t m c < <(timed "$cli" --settings "$settings" --dest "$out" --jobs "$j" "${files[@]}")
      [ "$i" -gt 0 ] && { mt[$j]+="$t "; mc[$j]+="$c "; mm[$j]+="$m "; }
    done
  done
  local cmed ccpu
  cmed=$(printf '%s\n' "${ct[@]}" | median)
  ccpu=$(printf '%s\n' "${cc[@]}" | median)
  local one=""
  [ -n "${mt[1]:-}" ] && one=$(printf '%s\n' ${mt[1]} | median)
  for j in $jobs; do
    local mmed mcpu mem
    mmed=$(printf '%s\n' ${mt[$j]} | median)
    mcpu=$(printf '%s\n' ${mc[$j]} | median)
    mem=$(printf '%s\n' ${mm[$j]} | sort -g | tail -1)
    awk -v n="$name" -v f="${#files[@]}" -v b="$bytes" -v c="$cmed" -v cc="$ccpu" -v m="$mmed" -v mc="$mcpu" \
        -v r="$mem" -v j="$j" 'BEGIN {
      mb = b / 1048576;
      printf "%-5s %5d files %7.1f MB  jobs %d | wall: copy %7.3f s  morvane %7.3f s  ratio %5.2f  %6.1f ms/MB | cpu: copy %5.2f s  morvane %5.2f s  ratio %5.2f | peak %6.1f MB (limit %.0f)\n",
        n, f, mb, j, c, m, (c > 0 ? m / c : 0), (mb > 0 ? 1000 * m / mb : 0), cc, mc, (cc > 0 ? mc / cc : 0),
        r / 1024, 2 * mb + 64 }'
    if [ "$j" != 1 ] && [ -n "$one" ]; then
      awk -v a="$one" -v b="$mmed" -v j="$j" 'BEGIN { printf "      jobs %d is %.2f times as fast as jobs 1\n", j, (b > 0 ? a / b : 0) }'
    fi
  done
}

for w in "${workloads[@]}"; do
  case "$w" in
    S) for s in S100 S10 L; do report "$s" "$(make_workload "$s")"; done ;;
    *) report "$w" "$(make_workload "$w")" ;;
  esac
done
