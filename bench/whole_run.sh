#!/usr/bin/env bash
# Whole runs of the tool against the I/O floor: for each size, the tool's wall
# time on a generated Velmarin.asm and the wall time of `cp` of the same file
# to a new name, measured alternately in one run; the median of the per-pair
# ratios; throughput; peak resident memory. Then the same for UTF-16LE.
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

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "pairs per size: $pairs (tool run, then cp, alternately)"
printf '%-8s %6s %10s %10s %8s %9s %10s %s\n' format MiB tool_s cp_s ratio MiB/s peak_MiB counts
for variant in ascii utf16le; do
  for size in "${sizes[@]}"; do
    flag=()
    [ "$variant" = utf16le ] && flag=(--utf16le)
    "$generator" 1 "$size" "$work/input.asm" "${flag[@]}"
    bytes=$(stat -c %s "$work/input.asm")
    tool_times=() cp_times=() ratios=() peak=0
    for pair in $(seq 1 "$pairs"); do
      mkdir -p "$work/run"
      cp "$work/input.asm" "$work/run/Velmarin.asm"
      sync
      start=$(now)
      (cd "$work/run" && /usr/bin/time -f %M -o "$work/rss" "$tool" > "$work/console")
      tool_time=$(echo "$(now) - $start" | bc -l)
      rss=$(cat "$work/rss")
      [ "$rss" -gt "$peak" ] && peak=$rss
      rm -f "$work/copy.asm"
      sync
      start=$(now)
      cp "$work/input.asm" "$work/copy.asm"
      cp_time=$(echo "$(now) - $start" | bc -l)
      tool_times+=("$tool_time") cp_times+=("$cp_time")
      ratios+=("$(echo "$tool_time / $cp_time" | bc -l)")
    done
    tool_median=$(printf '%s\n' "${tool_times[@]}" | median)
    cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
    ratio=$(printf '%s\n' "${ratios[@]}" | median)
    counts=$(iconv -f UTF-16LE -t UTF-8 "$work/console" | tr -d '\r' | tail -n 2 | tr '\n' ' ')
    printf '%-8s %6.0f %10.3f %10.3f %8.1f %9.0f %10.1f %s\n' "$variant" \
      "$(echo "$bytes / 1048576" | bc -l)" "$tool_median" "$cp_median" "$ratio" \
      "$(echo "$bytes / 1048576 / $tool_median" | bc -l)" "$(echo "$peak / 1024" | bc -l)" "$counts"
  done
done
