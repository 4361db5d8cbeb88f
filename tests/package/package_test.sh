#!/usr/bin/env bash
# Checks of what users install: the Debian package's files and control
# fields, lintian, the unpacked program on the bundled example, the manual,
# and the layout of `cmake --install`.
#   package_test.sh PACKAGE.deb BUILD_DIR
set -uo pipefail
deb=$(realpath "$1")
build=$(realpath "$2")
source_dir=$(realpath "$(dirname "$0")/../..")
source "$(dirname "$0")/../check.sh"

files="./usr/bin/orrinvale
./usr/share/doc/orrinvale/README.md
./usr/share/doc/orrinvale/changelog.gz
./usr/share/doc/orrinvale/copyright
./usr/share/doc/orrinvale/pcre_license.txt
./usr/share/man/man1/orrinvale.1.gz"
check "file list" same "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)" "$files"
check "owned by root" same "$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)" "root/root"

field() { dpkg-deb -f "$deb" "$1"; }
version=$(sed -n 's/^project(Orrinvale VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
check "Package" same "$(field Package)" orrinvale
check "Version from the project" same "$(field Version)" "$version"
check "Architecture" same "$(field Architecture)" "$(dpkg --print-architecture)"
check "Section" same "$(field Section)" devel
check "Depends from the binary" eval '[[ "$(field Depends)" =~ libc6.*libpcre(3|2-8-0) ]]'
check "Maintainer" eval '[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]]'
check "Description" eval '[ -n "$(field Description)" ]'
# Taken out whole first: grep -q on the pipe would stop at the match, and
# tar, writing the rest, would end by SIGPIPE and fail the pipeline.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/orrinvale/copyright > "$work/copyright"
check "copyright names PCRE's licence" grep -q "^License: BSD-3-clause" "$work/copyright"
check "copyright gives the tool's own terms (MIT)" grep -q "^License: Expat" "$work/copyright"

lintian --tag-display-limit 0 "$deb" > "$work/lintian" 2>&1
check "lintian: no errors" eval '! grep -q "^E:" "$work/lintian"'
grep -E "^[EW]:" "$work/lintian"

# The program as installed, on the bundled example.
dpkg -x "$deb" "$work/root"
mkdir -p "$work/run"
cp "$source_dir/examples/Velmarin.asm" "$work/run/"
(cd "$work/run" && "$work/root/usr/bin/orrinvale" > "$work/console")
check "unpacked program: summary" same \
  "$(iconv -f UTF-16LE -t UTF-8 "$work/console" | tr -d '\r' | tail -n 2)" \
  "Found 7 procedure macros.
Removed 3 out of 7 used procedure macros."
sed -e 's/\r$//' -e 's/^\(MP[456]\)$/; \1; AUTOMATICALLY REMOVED/' -e 's/$/\r/' \
  "$source_dir/examples/Velmarin.asm" > "$work/expected.asm"
check "unpacked program: file" cmp -s "$work/run/Velmarin.asm" "$work/expected.asm"

man --warnings -l "$work/root/usr/share/man/man1/orrinvale.1.gz" > "$work/man" 2> "$work/man-warnings"
check "manual renders" grep -q "comment out the unreachable procedures" "$work/man"
check "manual: no groff warnings" eval '[ ! -s "$work/man-warnings" ]'
cat "$work/man-warnings"

# cmake --install puts the same files under any prefix.
cmake --install "$build" --prefix "$work/prefix" > /dev/null
check "cmake --install layout" same "$(cd "$work/prefix" && find . -type f | sort)" \
  "$(echo "$files" | sed 's|^\./usr|.|' | sort)"

finish
