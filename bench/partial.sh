#!/usr/bin/env bash
# Whole runs of the tool against the same job done by coreutils: the tool's
# own result copied to a new file beside the original, `sync --data`, `mv`
# over the original and a sync of the directory. That is the least any safe
# rewrite to that result must do, and it frees the old content just as the
# tool's rename does. For each file the tool and the yardstick run
# alternately, PAIRS times; printed are the medians, the median of the
# per-pair ratios, the tool's MiB/s and its peak resident memory.
# Files: the bundled example and a 1 MiB file (where starting the process is
# most of the time); a program of 56,000 procedures (about 60 MiB) in every
# encoding and line-end style; 1.5 million invocation lines; a 224 MiB
# program of 200,000 procedures; last, one run on 1 GiB for its peak memory.
#   bench/whole_run.sh BUILD_DIR [PAIRS]
set -euo pipefail
build=$(realpath "$1")
pairs=${2:-5}
tool=$build/orrinvale
generator=$build/velmarin_large_gen
work=$(mktemp -d /var/tmp/orrinvale-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
since() { echo "$(now) - $1" | bc -l; }

# One run of the tool on a fresh copy of the input; sets tool_time and rss.
run_tool() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
  cp "$work/input.asm" "$work/run/Velmarin.asm"
  sync
  local start
  start=$(now)
  (cd "$work/run" && /usr/bin/time -f %M -o "$work/rss" "$tool" > "$work/console")
  tool_time=$(since "$start")
  rss=$(cat "$work/rss")
}

# The same job by coreutils, from the tool's result; sets yard_time.
run_yardstick() {
  rm -rf "$work/yard"
  mkdir -p "$work/yard"
  cp "$work/input.asm" "$work/yard/Velmarin.asm"
  sync
  local start
  start=$(now)
  cp "$work/result.asm" "$work/yard/new.asm"
  sync --data "$work/yard/new.asm"
  mv "$work/yard/new.asm" "$work/yard/Velmarin.asm"
  sync "$work/yard"
  yard_time=$(since "$start")
}

measure() {  # measure LABEL: pairs of tool and yardstick on input.asm
  local bytes tool_times=() yard_times=() ratios=() peak=0
  bytes=$(stat -c %s "$work/input.asm")
  run_tool
  cp "$work/run/Velmarin.asm" "$work/result.asm"
  for pair in $(seq 1 "$pairs"); do
    run_tool
    [ "$rss" -gt "$peak" ] && peak=$rss
    run_yardstick
    tool_times+=("$tool_time") yard_times+=("$yard_time")
    ratios+=("$(echo "$tool_time / $yard_time" | bc -l)")
  done
  local tool_median
  tool_median=$(printf '%s\n' "${tool_times[@]}" | median)
  printf '%-18s %7.2f %8.4f %8.4f %6.2f %8.0f %8.1f  %s\n' "$1" \
    "$(echo "$bytes / 1048576" | bc -l)" "$tool_median" \
    "$(printf '%s\n' "${yard_times[@]}" | median)" "$(printf '%s\n' "${ratios[@]}" | median)" \
    "$(echo "$bytes / 1048576 / $tool_median" | bc -l)" "$(echo "$peak / 1024" | bc -l)" \
    "$(iconv -f UTF-16LE -t UTF-8 "$work/console" | tr -d '\r' | tail -n 2 | tr '\n' ' ')"
}

generate() { "$generator" 1 "$1" "$work/input.asm" "${@:2}"; }  # generate SIZE_MIB OPTION...

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "pairs per file: $pairs (tool, yardstick, alternately); medians"
printf '%-18s %7s %8s %8s %6s %8s %8s  %s\n' file MiB tool_s yard_s ratio MiB/s peak_MiB counts
generate 10 --procedures=1000 --invocations=1500000 --line-ends=lf
measure invocations-lf
