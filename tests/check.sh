# Sourced by the test scripts: a scratch directory removed on exit, named
# checks counted, a comparison that shows both sides, and the closing line
# that CI reads.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0
check() {  # check NAME COMMAND...
  local name=$1
  shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
same() {  # same GOT EXPECTED: equal strings, or both shown
  [ "$1" = "$2" ] || { echo "  got:      $1"; echo "  expected: $2"; return 1; }
}
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}
