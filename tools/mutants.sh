#!/usr/bin/env bash
# Plants each fault of tests/mutants.txt, one at a time, in a scratch copy of
# the tree; builds; runs the Release tests (the soak left out), stopping at
# the first failure. A fault that some test fails on is killed; one that all
# pass survives, and is named. Takes long: run it before a change to the
# tests or to code the list covers is submitted, not on every build.
#   tools/mutants.sh [REGEX]   only the faults whose line matches REGEX (extended)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
only=${1:-}
scratch=$root/build/mutants
rm -rf "$scratch/src"
mkdir -p "$scratch/src"
# The tree as it stands, uncommitted changes included.
git ls-files -co --exclude-standard | tar -cf - -T - | tar -xf - -C "$scratch/src"
cmake -S "$scratch/src" -B "$scratch/build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF > /dev/null
targets=(--target orrinvale orrinvale_tests velmarin_program_gen)
echo "Building the unchanged tree"
cmake --build "$scratch/build" -j "$(nproc)" "${targets[@]}" > "$scratch/build.log" 2>&1 ||
  { cat "$scratch/build.log"; exit 1; }
(cd "$scratch/build" && ctest -LE soak -j 2 > "$scratch/test.log" 2>&1) ||
  { echo "the unchanged tree fails its tests: $scratch/test.log" >&2; exit 1; }

killed=0 counted=0 unseen=0 broken=0
survivors=()
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  [[ -n "$only" && ! "$line" =~ $only ]] && continue
  IFS=$'\x1f' read -r file from to why <<< "${line// @@ /$'\x1f'}"
  target=$scratch/src/$file
  cp "$target" "$scratch/original"
  if ! FROM=$from TO=$to perl -0pi -e '$n = s/\Q$ENV{FROM}\E/$ENV{TO}/g; END { exit($n == 1 ? 0 : 1) }' \
    "$target"; then
    echo "NOT PLANTED (text not found once): $line"
    broken=$((broken + 1))
    cp "$scratch/original" "$target"
    continue
  fi
  verdict=survived
  if ! cmake --build "$scratch/build" -j "$(nproc)" "${targets[@]}" > "$scratch/build.log" 2>&1; then
    verdict="did not build"
  elif ! (cd "$scratch/build" && ctest -LE soak -j 2 --stop-on-failure --timeout 120 \
            > "$scratch/test.log" 2>&1); then
    verdict=killed
  fi
  cp "$scratch/original" "$target"
  # Put the file's old time back too, so that the next build sees it as changed.
  touch "$target"
  if [ "$verdict" = "did not build" ]; then
    echo "DID NOT BUILD: $line"
    broken=$((broken + 1))
  elif [ -n "${why:-}" ]; then
    echo "unseen ($verdict): $file: $from"
    unseen=$((unseen + 1))
  else
    counted=$((counted + 1))
    if [ "$verdict" = killed ]; then
      killed=$((killed + 1))
      echo "killed by $(grep -m1 -oE '[0-9]+ - [^ ]+' "$scratch/test.log" | sed 's/^[0-9]* - //' || echo '?'): $file"
    else
      survivors+=("$line")
      echo "SURVIVED: $line"
    fi
  fi
done < tests/mutants.txt
# The scratch copy's build back to the unchanged tree.
cmake --build "$scratch/build" -j "$(nproc)" "${targets[@]}" > /dev/null 2>&1 || true

echo
if [ ${#survivors[@]} -gt 0 ]; then
  echo "Survivors:"
  printf '  %s\n' "${survivors[@]}"
fi
echo "$killed of $counted killed ($unseen unseen, $broken not planted or not built)"
[ "$broken" -eq 0 ]
