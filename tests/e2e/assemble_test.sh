#!/usr/bin/env bash
# Generated programs through the real assembler, before and after the tool:
# the rewritten source must assemble, the program must print the same and exit
# the same, the executable must shrink, and the console must show the
# generator's own counts.
#   assemble_test.sh ORRINVALE PROGRAM_GEN SEEDS
set -u
tool=$(realpath "$1") generator=$(realpath "$2") seeds=$3
fasm=(qemu-i386-static /usr/bin/fasm)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0

fail() { echo "seed $seed: $*"; failed=$((failed + 1)); }

for seed in $(seq 1 "$seeds"); do
  dir=$work/$seed
  mkdir -p "$dir"
  "$generator" "$seed" "$dir/Velmarin.asm" > "$dir/expected" || { fail "generator failed"; continue; }
  "${fasm[@]}" "$dir/Velmarin.asm" "$dir/before" > "$dir/fasm.log" 2>&1 \
    || { fail "original does not assemble"; cat "$dir/fasm.log"; continue; }
  chmod +x "$dir/before"
  "$dir/before" > "$dir/before.out"; before_status=$?

  (cd "$dir" && "$tool" > console.raw)
  iconv -f UTF-16LE -t UTF-8 "$dir/console.raw" | tr -d '\r' | tail -n 2 > "$dir/console"
  cmp -s "$dir/console" "$dir/expected" \
    || { fail "console differs"; diff "$dir/expected" "$dir/console"; continue; }

  "${fasm[@]}" "$dir/Velmarin.asm" "$dir/after" > "$dir/fasm.log" 2>&1 \
    || { fail "rewritten source does not assemble"; cat "$dir/fasm.log"; continue; }
  chmod +x "$dir/after"
  "$dir/after" > "$dir/after.out"; after_status=$?
  [ "$before_status" = "$after_status" ] || { fail "exit $before_status became $after_status"; continue; }
  cmp -s "$dir/before.out" "$dir/after.out" || { fail "program output differs"; continue; }
  [ "$(stat -c %s "$dir/after")" -lt "$(stat -c %s "$dir/before")" ] \
    || { fail "executable did not shrink"; continue; }
  passed=$((passed + 1))
done

echo "$passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
