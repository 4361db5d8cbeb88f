#!/usr/bin/env bash
# Whole runs of the tool against the I/O floor. For each file: the tool's wall
# time, `cp` of the same file to a new name, and `cp` followed by
# `sync --data` of the copy (the fair yardstick: the tool must force its new
# file to the disk before the rename), measured alternately in one run; the
# median of the per-pair ratios against both; throughput; peak resident
# memory. The tool leaves the freeing of a large replaced file to a process
# of its own that outlives it by some milliseconds: freed_s is the time until
# a check (pgrep, some 10 ms) found that process ended too, so it overstates
# by up to one check (files under 16 MiB start no such process: there the
# difference is the check alone); ratio_freed compares it with cp + sync. The
# next measurement starts only then. Files: the bundled example and a 1 MiB file, where starting the
# process is most of the time; generated programs of the given sizes in
# ASCII and UTF-16LE; a 224 MiB program of 200,000 procedures; and last the
# peak memory of one run on 1 GiB.
#   bench/whole_run.sh BUILD_DIR [PAIRS] [SIZE_MIB...]
set -euo pipefail
build=$(realpath "$1")
pairs=${2:-5}
shift $(( $# > 1 ? 2 : 1 ))
sizes=("${@:-16 64 256}")
read -r -a sizes <<< "${sizes[*]}"
tool=$build/orrinvale
generator=$build/velmarin_large_gen
work=$(mktemp -d /var/tmp/orrinvale-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
since() { echo "$(now) - $1" | bc -l; }

# One run of the tool on a fresh copy of the input; sets tool_time, rss and
# freed_time (until no process of the tool is left in this session).
run_tool() {
  mkdir -p "$work/run"
  cp "$work/input.asm" "$work/run/Velmarin.asm"
  sync
  local start
  start=$(now)
  (cd "$work/run" && /usr/bin/time -f %M -o "$work/rss" "$tool" > "$work/console")
  tool_time=$(since "$start")
  while pgrep -x -s 0 -r R,S,D orrinvale > /dev/null; do :; done
  freed_time=$(since "$start")
  rss=$(cat "$work/rss")
}

measure() {  # measure LABEL: pairs of tool, cp, cp + sync --data on input.asm
  local bytes tool_times=() freed_times=() cp_times=() synced_times=() ratios=() synced_ratios=()
  local freed_ratios=() peak=0 start
  bytes=$(stat -c %s "$work/input.asm")
  for pair in $(seq 1 "$pairs"); do
    run_tool
    [ "$rss" -gt "$peak" ] && peak=$rss
    rm -f "$work/copy.asm"
    sync
    start=$(now)
    cp "$work/input.asm" "$work/copy.asm"
    local cp_time
    cp_time=$(since "$start")
    rm -f "$work/copy.asm"
    sync
    start=$(now)
    cp "$work/input.asm" "$work/copy.asm"
    sync --data "$work/copy.asm"
    local synced_time
    synced_time=$(since "$start")
    tool_times+=("$tool_time") freed_times+=("$freed_time")
    cp_times+=("$cp_time") synced_times+=("$synced_time")
    ratios+=("$(echo "$tool_time / $cp_time" | bc -l)")
    synced_ratios+=("$(echo "$tool_time / $synced_time" | bc -l)")
    freed_ratios+=("$(echo "$freed_time / $synced_time" | bc -l)")
  done
  local tool_median
  tool_median=$(printf '%s\n' "${tool_times[@]}" | median)
  printf '%-8s %7.2f %8.4f %8.4f %8.4f %9.4f %7.2f %9.2f %10.2f %6.0f %8.1f  %s\n' "$1" \
    "$(echo "$bytes / 1048576" | bc -l)" "$tool_median" \
    "$(printf '%s\n' "${freed_times[@]}" | median)" \
    "$(printf '%s\n' "${cp_times[@]}" | median)" "$(printf '%s\n' "${synced_times[@]}" | median)" \
    "$(printf '%s\n' "${ratios[@]}" | median)" "$(printf '%s\n' "${synced_ratios[@]}" | median)" \
    "$(printf '%s\n' "${freed_ratios[@]}" | median)" \
    "$(echo "$bytes / 1048576 / $tool_median" | bc -l)" "$(echo "$peak / 1024" | bc -l)" \
    "$(iconv -f UTF-16LE -t UTF-8 "$work/console" | tr -d '\r' | tail -n 2 | tr '\n' ' ')"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "pairs per file: $pairs (tool, cp, cp + sync --data, alternately); medians"
printf '%-8s %7s %8s %8s %8s %9s %7s %9s %10s %6s %8s  %s\n' file MiB tool_s freed_s cp_s \
  cp+sync_s ratio ratio_sync ratio_freed MiB/s peak_MiB counts
cp "$(dirname "$0")/../examples/Velmarin.asm" "$work/input.asm"
measure example
"$generator" 1 1 "$work/input.asm"
measure ascii
for variant in ascii utf16le; do
  flag=()
  [ "$variant" = utf16le ] && flag=(--utf16le)
  for size in "${sizes[@]}"; do
    "$generator" 1 "$size" "$work/input.asm" "${flag[@]}"
    measure "$variant"
  done
done
"$generator" 1 224 "$work/input.asm" --procedures=200000
measure program

"$generator" 1 1024 "$work/input.asm"
run_tool
printf '1 GiB: %.2f s, peak resident memory %.1f MiB\n' "$tool_time" "$(echo "$rss / 1024" | bc -l)"
