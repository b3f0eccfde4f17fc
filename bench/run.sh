#!/usr/bin/env bash
# Whole-process benchmark: times morvane-cli against copying the same files
# (cat SRC > DST for one drawing, one cp for a folder of drawings) in the same
# run, alternating, five runs after a warm-up; reports medians, the ratio and
# peak resident memory from /usr/bin/time.
#   bash bench/run.sh [L L16 M S] [--runs N] [--jobs N]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

workloads=()
runs=5
jobs=1
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
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

# Settings that tick several options, as a user would.
settings="$work/bench.dat"
{
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
  if [ -f "$dir/.done" ]; then echo "$dir"; return; fi
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

timed() {  # command... -> "seconds maxrss_kb"
  /usr/bin/time -f "%e %M" -o "$work/time.out" "$@" >/dev/null 2>"$work/stderr.out" || {
    echo "command failed: $*" >&2; cat "$work/stderr.out" >&2; exit 1; }
  cat "$work/time.out"
}

report() {  # name src-dir
  local name="$1" src="$2" out="$work/out"
  local files=("$src"/*.jww)
  local bytes; bytes=$(du -cb "${files[@]}" | tail -1 | cut -f1)
  local copy_cmd=(cp "${files[@]}" "$out/")
  [ ${#files[@]} -eq 1 ] && copy_cmd=(sh -c 'cat "$1" > "$2/copy.jww"' sh "${files[0]}" "$out")
  local conv_cmd=("$cli" --settings "$settings" --dest "$out" --jobs "$jobs" "${files[@]}")
  "$cli" --help 2>/dev/null | grep -q -- --jobs || conv_cmd=("$cli" --settings "$settings" --dest "$out" "${files[@]}")
  local ct=() cm=() mt=() mm=()
  for i in $(seq 0 "$runs"); do
    rm -rf "$out"; mkdir -p "$out"; sync
    read -r t m < <(timed "${copy_cmd[@]}")
    [ "$i" -gt 0 ] && { ct+=("$t"); cm+=("$m"); }
    rm -rf "$out"; mkdir -p "$out"; sync
    read -r t m < <(timed "${conv_cmd[@]}")
    [ "$i" -gt 0 ] && { mt+=("$t"); mm+=("$m"); }
  done
  local cmed mmed mem
  cmed=$(printf '%s\n' "${ct[@]}" | median)
  mmed=$(printf '%s\n' "${mt[@]}" | median)
  mem=$(printf '%s\n' "${mm[@]}" | sort -g | tail -1)
  awk -v n="$name" -v f="${#files[@]}" -v b="$bytes" -v c="$cmed" -v m="$mmed" -v r="$mem" -v j="$jobs" 'BEGIN {
    mb = b / 1048576;
    printf "%-5s files %5d  %8.1f MB  jobs %d  copy %6.2f s  morvane %6.2f s  ratio %5.2f  %6.1f ms/MB  peak %6.1f MB (limit 2x+64 = %.0f MB)\n",
      n, f, mb, j, c, m, (c > 0 ? m / c : 0), (mb > 0 ? 1000 * m / mb : 0), r / 1024, 2 * mb + 64 }'
  rm -rf "$out"
}

for w in "${workloads[@]}"; do
  case "$w" in
    S) for s in S100 S10 L; do report "$s" "$(make_workload "$s")"; done ;;
    *) report "$w" "$(make_workload "$w")" ;;
  esac
done
