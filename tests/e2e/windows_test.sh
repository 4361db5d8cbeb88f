#!/usr/bin/env bash
# Whole-program checks of orrinvale.exe under Wine, against the Linux build:
# the same console bytes and the same file bytes in every format, the cases
# where there is nothing to rewrite, and Ctrl+C at random moments.
#   windows_test.sh ORRINVALE_EXE HOLD_FILE_EXE LINUX_BUILD_DIR
set -uo pipefail
exe=$(realpath "$1")
hold=$(realpath "$2")
linux=$(realpath "$3")
source "$(dirname "$0")/../check.sh"
# Runs the Windows program in directory $1; its console bytes go to $1.out.
run_windows() { (cd "$1" && wine "$exe" < /dev/null > "$1.out" 2> /dev/null); }
run_linux() { (cd "$1" && "$linux/orrinvale" > "$1.out"); }
same_as_linux() {  # same_as_linux NAME INPUT-FILE
  mkdir -p "$work/$1.win" "$work/$1.lin"
  cp "$2" "$work/$1.win/Velmarin.asm"
  cp "$2" "$work/$1.lin/Velmarin.asm"
  run_windows "$work/$1.win"
  run_linux "$work/$1.lin"
  check "$1: console" cmp -s "$work/$1.win.out" "$work/$1.lin.out"
  check "$1: file" cmp -s "$work/$1.win/Velmarin.asm" "$work/$1.lin/Velmarin.asm"
  check "$1: no temporary file" [ "$(ls -A "$work/$1.win")" = Velmarin.asm ]
}
console_lines() {  # the expected console bytes of the given lines, UTF-16LE
  printf '%s\r\n' "Orrinvale uses:" \
    "PCRE, the Perl Compatible Regular Expressions library by Philip Hazel, copyright University of Cambridge, England" \
    "For PCRE license see pcre_license.txt" "" "$@" | iconv -f UTF-8 -t UTF-16LE
}

example=$(dirname "$0")/../../examples/Velmarin.asm

# Every format, LF-only and CR-only line ends, and bytes that are valid in no
# encoding: the Windows build writes exactly what the Linux build writes.
same_as_linux ansi "$example"
tr -d '\r' < "$example" > "$work/lf.asm"
same_as_linux lf-only "$work/lf.asm"
tr '\n' '\r' < "$work/lf.asm" > "$work/cr.asm"
same_as_linux cr-only "$work/cr.asm"
for format in UTF-8 UTF-16LE UTF-16BE UTF-32LE UTF-32BE; do
  { printf '\xEF\xBB\xBF' | iconv -f UTF-8 -t "$format"; iconv -f UTF-8 -t "$format" < "$example"; } \
    > "$work/$format.asm"
  same_as_linux "$format" "$work/$format.asm"
done
printf '\xEF\xBB\xBF; \xE2\x82 \xC0\xAF\nMP4 \xFF\xFE\x80\nx\0y\n' > "$work/malformed.asm"
same_as_linux malformed-utf8 "$work/malformed.asm"
printf '\xFF\xFEM\0P\0004\0\n\0z' > "$work/partial.asm"
same_as_linux partial-unit "$work/partial.asm"
"$linux/velmarin_large_gen" 7 8 "$work/large.asm" > /dev/null
same_as_linux large "$work/large.asm"

# The six lines of a normal run, as raw UTF-16LE without a byte-order mark.
check "redirected console bytes" cmp -s "$work/ansi.win.out" \
  <(console_lines "Found 7 procedure macros." "Removed 3 out of 7 used procedure macros.")

# Nothing to rewrite: the not-found line twice, or only the Found line.
not_found=$(console_lines "File 'Velmarin.asm' not found." "File 'Velmarin.asm' not found." | xxd -p)
mkdir -p "$work/missing"
run_windows "$work/missing"
check "missing file" [ "$(xxd -p < "$work/missing.out")" = "$not_found" ]
check "missing file: nothing created" [ -z "$(ls -A "$work/missing")" ]
mkdir -p "$work/directory/Velmarin.asm"
run_windows "$work/directory"
check "directory named Velmarin.asm" [ "$(xxd -p < "$work/directory.out")" = "$not_found" ]

mkdir -p "$work/readonly"
cp "$example" "$work/readonly/Velmarin.asm"
(cd "$work/readonly" && wine cmd /c attrib +r Velmarin.asm < /dev/null > /dev/null 2>&1)
run_windows "$work/readonly"
check "read-only attribute: only the Found line" cmp -s "$work/readonly.out" \
  <(console_lines "Found 7 procedure macros.")
check "read-only attribute: unchanged" cmp -s "$work/readonly/Velmarin.asm" "$example"

# Modes: under Wine the access control list that a Windows program sees
# stands for the mode bits, without the group's. The new file is never more
# open than the old; a file whose list the new one would not have is left
# alone, and the user is told.
for mode in 600 640 644 664; do
  dir="$work/mode$mode"
  mkdir -p "$dir"
  cp "$example" "$dir/Velmarin.asm"
  chmod "$mode" "$dir/Velmarin.asm"
  run_windows "$dir"
  after=$(stat -c %a "$dir/Velmarin.asm")
  check "mode $mode: never wider (now $after)" [ $(( 8#$after & ~8#$mode )) = 0 ]
  if cmp -s "$dir/Velmarin.asm" "$example"; then
    check "mode $mode: left alone, and said so" cmp -s "$dir.out" \
      <(console_lines "Found 7 procedure macros." "File 'Velmarin.asm' could not be written.")
    check "mode $mode: left alone with its mode" [ "$after" = "$mode" ]
  else
    check "mode $mode: rewritten as on Linux" cmp -s "$dir/Velmarin.asm" "$work/ansi.lin/Velmarin.asm"
  fi
  check "mode $mode: no temporary file" [ "$(ls -A "$dir")" = Velmarin.asm ]
done
# What new files get (the Wine server's umask is 022): the usual mode stays.
check "mode 644: rewritten" cmp -s "$work/mode644/Velmarin.asm" "$work/ansi.lin/Velmarin.asm"
check "mode 644: kept" [ "$(stat -c %a "$work/mode644/Velmarin.asm")" = 644 ]

mkdir -p "$work/link/out"
cp "$example" "$work/link/out/real.asm"
ln -s out/real.asm "$work/link/Velmarin.asm"
run_windows "$work/link"
check "symlink stays a link" [ -L "$work/link/Velmarin.asm" ]
check "symlink target rewritten" cmp -s "$work/link/out/real.asm" "$work/ansi.lin/Velmarin.asm"

# Held open by another program: one that shares nothing makes the file as
# good as not there; one that only lets others read keeps the tool from
# replacing it, and the user is told.
hold() {  # hold MODE DIRECTORY: runs the tool while the file is held
  mkdir -p "$2"
  cp "$example" "$2/Velmarin.asm"
  coproc holder { cd "$2" && exec wine "$hold" "$1" Velmarin.asm 2> /dev/null; }
  state=
  read -r -t 60 state <&"${holder[0]}"
  run_windows "$2"
  exec {holder[1]}>&-
  wait "$holder_PID" 2> /dev/null
  check "held ($1): holder started" [ "${state%$'\r'}" = held ]
  check "held ($1): unchanged" cmp -s "$2/Velmarin.asm" "$example"
  check "held ($1): no temporary file" [ "$(ls -A "$2")" = Velmarin.asm ]
}
hold alone "$work/held-alone"
check "held (alone): not found twice" [ "$(xxd -p < "$work/held-alone.out")" = "$not_found" ]
hold reading "$work/held-reading"
check "held (reading): could not be written" cmp -s "$work/held-reading.out" \
  <(console_lines "Found 7 procedure macros." "File 'Velmarin.asm' could not be written.")

# Digit runs of three million under the main thread's 1 MiB stack.
digits=$(head -c 3000000 /dev/zero | tr '\0' '9')
printf 'macro MP%s{\r\n_Procedure%s:\r\n}\r\ndq _Procedure%s, _Procedure6\r\nMP%s\r\nMP6\r\nMP7\r\n' \
  "$digits" "$digits" "$digits" "$digits" > "$work/digits.asm"
same_as_linux digits "$work/digits.asm"
check "digits: counts" cmp -s "$work/digits.win.out" \
  <(console_lines "Found 1 procedure macros." "Removed 1 out of 3 used procedure macros.")

# A working directory close to MAX_PATH: the temporary file's path beside
# Velmarin.asm is longer than MAX_PATH.
deep="$work/deep"
while [ $(( ${#deep} + 62 )) -lt 255 ]; do deep="$deep/$(printf 'd%.0s' $(seq 60))"; done
deep="$deep/$(head -c $(( 250 - ${#deep} - 1 )) /dev/zero | tr '\0' 'e')"
mkdir -p "$deep"
cp "$example" "$deep/Velmarin.asm"
run_windows "$deep"
check "working directory of ${#deep} characters" \
  cmp -s "$deep/Velmarin.asm" "$work/ansi.lin/Velmarin.asm"
check "working directory of ${#deep} characters: no temporary file" \
  [ "$(ls -A "$deep")" = Velmarin.asm ]

# ANSI text is read in the system's code page: in code page 932, 83 5F is
# one character, so "\x83_Procedure5" holds no reference; in 1252 it does.
# Either way, only the invocation line changes.
for locale in C ja_JP.UTF-8; do
  mkdir -p "$work/codepage-$locale"
  printf 'macro MP5{\r\n_Procedure5:\r\n}\r\ncall \x83_Procedure5\r\nMP5\r\n' \
    > "$work/codepage-$locale/Velmarin.asm"
  (cd "$work/codepage-$locale" && LANG=$locale LC_ALL=$locale wine "$exe" < /dev/null \
    > "$work/codepage-$locale.out" 2> /dev/null)
done
check "code page 1252: the reference counts" cmp -s "$work/codepage-C.out" \
  <(console_lines "Found 1 procedure macros." "Removed 0 out of 1 used procedure macros.")
check "code page 932: no reference" cmp -s "$work/codepage-ja_JP.UTF-8.out" \
  <(console_lines "Found 1 procedure macros." "Removed 1 out of 1 used procedure macros.")
check "code page 932: other bytes kept" cmp -s "$work/codepage-ja_JP.UTF-8/Velmarin.asm" \
  <(printf 'macro MP5{\r\n_Procedure5:\r\n}\r\ncall \x83_Procedure5\r\n; MP5; AUTOMATICALLY REMOVED\r\n')

# A line of 33 MB under code page 932, judged in pieces: "\x83_" is one
# character, and "\x82\xA0" another before a reference. The pattern's 33
# bytes move each piece's edge a byte further into it than the last one's,
# so that the edges fall inside both kinds of character and in references.
mkdir -p "$work/codepage-long"
awk 'BEGIN {
  printf "macro MP5{\r\n_Procedure5:\r\n}\r\nmacro MP6{\r\n_Procedure6:\r\n}\r\ndd "
  for (i = 0; i < 1000000; ++i) printf "\x83_Procedure5, \x82\xA0_Procedure6\x83_, xy"
  printf "\r\nMP5\r\nMP6\r\n"
}' > "$work/codepage-long.asm"
cp "$work/codepage-long.asm" "$work/codepage-long/Velmarin.asm"
(cd "$work/codepage-long" && LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 wine "$exe" < /dev/null \
  > "$work/codepage-long.out" 2> /dev/null)
check "code page 932, a long line: its references alone" cmp -s "$work/codepage-long.out" \
  <(console_lines "Found 2 procedure macros." "Removed 1 out of 2 used procedure macros.")
check "code page 932, a long line: kept" cmp -s "$work/codepage-long/Velmarin.asm" \
  <(sed 's/^MP5\r$/; MP5; AUTOMATICALLY REMOVED\r/' "$work/codepage-long.asm")

# Ctrl+C (a SIGINT to the Wine process) at random moments of a large run.
start=$(date +%s%N)
run_windows "$work/large.win"  # warm, and rewritten already: measure a full run
cp "$work/large.asm" "$work/large.win/Velmarin.asm"
start=$(date +%s%N)
run_windows "$work/large.win"
run_ns=$(( $(date +%s%N) - start ))
for attempt in $(seq 1 8); do
  dir="$work/interrupt$attempt"
  mkdir -p "$dir"
  cp "$work/large.asm" "$dir/Velmarin.asm"
  (cd "$dir" && exec wine "$exe" < /dev/null > /dev/null 2>&1) &
  pid=$!
  sleep "$(awk -v ns="$run_ns" -v seed="$attempt" 'BEGIN { srand(seed); printf "%.3f", rand() * 1.1 * ns / 1e9 }')"
  kill -INT "$pid" 2> /dev/null
  wait "$pid"
  if cmp -s "$dir/Velmarin.asm" "$work/large.asm" || cmp -s "$dir/Velmarin.asm" "$work/large.lin/Velmarin.asm"; then
    check "Ctrl+C $attempt: old or new file" true
  else
    check "Ctrl+C $attempt: old or new file" false
  fi
  check "Ctrl+C $attempt: no temporary file" [ "$(ls -A "$dir")" = Velmarin.asm ]
done

# Killed outright (SIGKILL of the Windows process: what TerminateProcess, a
# crash or a power cut leave) at random moments, most near the end, where the
# new file takes the old one's place: the name always holds the old or the
# new content, and the next run tidies up and does the work.
kills=${ORRINVALE_KILLS:-120}
old=0 new=0 tidied=0
for attempt in $(seq 1 "$kills"); do
  dir="$work/killed"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work/large.asm" "$dir/Velmarin.asm"
  (cd "$dir" && exec wine "$exe" < /dev/null > /dev/null 2>&1) &
  pid=$!
  sleep "$(awk -v ns="$run_ns" -v seed="$attempt" 'BEGIN {
    srand(seed); share = seed % 3 == 0 ? rand() * 1.1 : 0.7 + rand() * 0.35
    printf "%.3f", share * ns / 1e9 }')"
  kill -KILL "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  if cmp -s "$dir/Velmarin.asm" "$work/large.asm"; then
    old=$(( old + 1 ))
  elif cmp -s "$dir/Velmarin.asm" "$work/large.lin/Velmarin.asm"; then
    new=$(( new + 1 ))
  else
    echo "kill $attempt: $(ls -A "$dir" | tr '\n' ' ')"
  fi
  run_windows "$dir"
  if [ "$(ls -A "$dir")" = Velmarin.asm ] &&
    cmp -s "$dir/Velmarin.asm" "$work/large.lin/Velmarin.asm"; then
    tidied=$(( tidied + 1 ))
  fi
done
echo "killed $kills times: old file $old, new file $new, the next run tidied up $tidied"
check "killed $kills times: old ($old) or new ($new) file every time" \
  [ $(( old + new )) = "$kills" ]
check "killed $kills times: the next run tidies up and rewrites ($tidied)" [ "$tidied" = "$kills" ]

finish
