#!/usr/bin/env bash
# Whole runs of the tool against the same job done by coreutils: the tool's
# own result copied to a new file beside the original, `sync --data`, `mv`
# over the original and a sync of the directory. That is the least any safe
# rewrite to that result must do, and it frees the old content just as the
# tool's rename does. For each file the tool and the yardstick run
# alternately, PAIRS times; printed are the medians, the median of the
# per-pair ratios, the tool's MiB/s, the processor time it used (user and
# system, all threads) and its peak resident memory. A few kinds run again
# while another process keeps one core busy, as a build running beside the
# tool would: the second thread then earns its place or costs time.
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
busy=
trap 'rm -rf "$work"; [ -z "$busy" ] || kill "$busy" 2> /dev/null' EXIT

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2] + v[NR/2+1]) / 2}'; }
since() { echo "$(now) - $1" | bc -l; }

# One run of the tool on a fresh copy of the input; sets tool_time, cpu
# (user and system seconds) and rss.
run_tool() {
  rm -rf "$work/run"
  mkdir -p "$work/run"
  cp "$work/input.asm" "$work/run/Velmarin.asm"
  sync
  local start
  start=$(now)
  (cd "$work/run" && /usr/bin/time -f '%M %U %S' -o "$work/rss" "$tool" > "$work/console")
  tool_time=$(since "$start")
  read -r rss user system < "$work/rss"
  cpu=$(echo "$user + $system" | bc -l)
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
  local bytes tool_times=() yard_times=() ratios=() cpu_times=() peak=0
  bytes=$(stat -c %s "$work/input.asm")
  run_tool
  cp "$work/run/Velmarin.asm" "$work/result.asm"
  for pair in $(seq 1 "$pairs"); do
    run_tool
    [ "$rss" -gt "$peak" ] && peak=$rss
    run_yardstick
    tool_times+=("$tool_time") yard_times+=("$yard_time") cpu_times+=("$cpu")
    ratios+=("$(echo "$tool_time / $yard_time" | bc -l)")
  done
  local tool_median
  tool_median=$(printf '%s\n' "${tool_times[@]}" | median)
  printf '%-22s %7.2f %8.4f %8.4f %6.2f %8.0f %7.3f %8.1f  %s\n' "$1" \
    "$(echo "$bytes / 1048576" | bc -l)" "$tool_median" \
    "$(printf '%s\n' "${yard_times[@]}" | median)" "$(printf '%s\n' "${ratios[@]}" | median)" \
    "$(echo "$bytes / 1048576 / $tool_median" | bc -l)" \
    "$(printf '%s\n' "${cpu_times[@]}" | median)" "$(echo "$peak / 1024" | bc -l)" \
    "$(iconv -f UTF-16LE -t UTF-8 "$work/console" | tr -d '\r' | tail -n 2 | tr '\n' ' ')"
}

generate() { "$generator" 1 "$1" "$work/input.asm" "${@:2}"; }  # generate SIZE_MIB OPTION...

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "pairs per file: $pairs (tool, yardstick, alternately); medians"
printf '%-22s %7s %8s %8s %6s %8s %7s %8s  %s\n' file MiB tool_s yard_s ratio MiB/s cpu_s \
  peak_MiB counts
cp "$(dirname "$0")/../examples/Velmarin.asm" "$work/input.asm"
measure example
generate 1
measure 1mib
program=(60 --procedures=56000)
for format in ansi utf8 utf16le utf16be utf32le utf32be; do
  for ends in crlf lf cr; do
    generate "${program[@]}" --format=$format --line-ends=$ends
    measure "$format-$ends"
  done
done
generate "${program[@]}" --line-ends=mixed
measure ansi-mixed
generate 10 --procedures=1000 --invocations=1500000 --line-ends=lf
measure invocations-lf
generate 224 --procedures=200000
measure program-224
# One line of 64 MiB: an address table of a million references, each padded
# to 64 bytes, that the main code holds.
awk 'BEGIN {
  printf "macro MP1{\r\n_Procedure1:\r\n}\r\ndd "
  for (i = 0; i < 1048576; ++i) printf "_Procedure%-52d, ", i % 1000
  printf "0\r\nMP1\r\nMP2\r\n"
}' > "$work/input.asm"
measure table-line-64
# One line of 256 MiB, a reference in every 64 bytes: judged in pieces as it
# streams by, so that memory stays that of a small file.
awk 'BEGIN {
  printf "macro MP1{\r\n_Procedure1:\r\n}\r\ndd "
  for (i = 0; i < 4194304; ++i) printf "x, y, z, _Procedure1 ; a line of data, 64 bytes at a time, *****"
  printf "\r\nMP1\r\nMP2\r\n"
}' > "$work/input.asm"
measure line-256

# Again with one core kept busy by another process.
busy_core() { (while :; do :; done) & busy=$!; }
for kind in ansi-crlf utf16le-lf; do
  generate "${program[@]}" --format="${kind%-*}" --line-ends="${kind#*-}"
  busy_core
  measure "$kind+busy"
  kill "$busy"
  busy=
done
generate 224 --procedures=200000
busy_core
measure program-224+busy
kill "$busy"
busy=

# A figure per classification kernel that this processor runs, on the kinds
# where the scan's share of the run is largest.
for kernel in scalar sse2 avx512; do
  if (cd "$work" && ORRINVALE_KERNEL=$kernel "$tool" | iconv -f UTF-16LE -t UTF-8 |
      grep -q "cannot run here"); then
    echo "$kernel: not run by this processor"
    continue
  fi
  for format in ansi utf16le; do
    generate "${program[@]}" --format=$format
    ORRINVALE_KERNEL=$kernel measure "$format-crlf-$kernel"
  done
done

generate 1024
run_tool
printf '1 GiB: %.2f s, peak resident memory %.1f MiB\n' "$tool_time" "$(echo "$rss / 1024" | bc -l)"
