#!/usr/bin/env bash
# Checks of the documents: the README stays short, every command of
# tools/dev.sh that a document names exists, and every link between the
# documents leads to a file.
#   readme_test.sh
set -uo pipefail
source_dir=$(realpath "$(dirname "$0")/../..")
source "$(dirname "$0")/../check.sh"
cd "$source_dir" || exit 1

documents=(README.md doc/*.md tests/README.md)
check "README: at most 150 lines" test "$(wc -l < README.md)" -le 150

# The commands that tools/dev.sh offers: the words of its case statement.
offered=$(sed -n '/^case "${1:-}" in/,/^esac/p' tools/dev.sh | sed -n 's/^  \([a-z|]*\))\s.*/\1/p;
  s/^  \([a-z|]*\))$/\1/p' | tr '|' '\n' | sort -u)
check "tools/dev.sh offers commands" test -n "$offered"
for named in $(grep -oh 'tools/dev\.sh [a-z]*' "${documents[@]}" | awk '{print $2}' | sort -u); do
  check "tools/dev.sh $named: offered" grep -qx "$named" <<< "$offered"
done

for document in "${documents[@]}"; do
  for link in $(grep -o '](\([^)#:]*\))' "$document" | sed 's/^](\(.*\))$/\1/' | sort -u); do
    check "$document: link $link" test -e "$(dirname "$document")/$link"
  done
done

finish
