#!/usr/bin/env bash
# Checks of the release: the names and the version agree, the checksums
# verify, the Linux archive and the Windows zip hold exactly their files,
# every file of all three carries the commit's time and the Windows program
# no time stamp, and the static program runs in an empty root and gives the
# dynamic build's console bytes and file bytes on every format. Given a
# second release of the same commit, built in another folder, the two must
# be the same bytes.
#   release_test.sh DIST_DIR DYNAMIC_BUILD_DIR [OTHER_DIST_DIR]
set -uo pipefail
dist=$(realpath "$1")
dynamic=$(realpath "$2")
other=${3:+$(realpath "$3")}
source_dir=$(realpath "$(dirname "$0")/../..")
source "$(dirname "$0")/../check.sh"

version=$(sed -n 's/^project(Orrinvale VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
name=orrinvale-$version-linux-x86_64
check "artefacts named by the version" same "$(cd "$dist" && ls | sort)" \
  "$(printf '%s\n' SHA256SUMS "$name.tar.gz" "orrinvale-$version-windows-x86_64.zip" \
    "orrinvale_${version}_$(dpkg --print-architecture).deb" | sort)"
check "checksums verify" eval '(cd "$dist" && sha256sum --quiet -c SHA256SUMS)'
check "checksums cover every artefact" same "$(awk '{print $2}' "$dist/SHA256SUMS" | sort)" \
  "$(cd "$dist" && ls | grep -v '^SHA256SUMS$' | sort)"

check "archive: exactly its files" same "$(tar -tzf "$dist/$name.tar.gz" | sort)" \
  "$(printf "$name/%s\n" "" LICENSE README.md orrinvale orrinvale.1 pcre_license.txt | sort)"
zip=$dist/orrinvale-$version-windows-x86_64.zip
check "zip: exactly its files" same "$(zipinfo -1 "$zip" | sort)" \
  "$(printf '%s\n' LICENSE README.md orrinvale.exe orrinvale.txt pcre_license.txt | sort)"
check "zip: the manual is of this version" eval 'unzip -p "$zip" orrinvale.txt | grep -q "orrinvale $version"'
archive=$dist/$name.tar.gz
unzip -p "$zip" README.md | tr -d '\r' > "$work/zip-readme"
tar -xzOf "$archive" "$name/README.md" > "$work/archive-readme"
check "zip: the user's README" cmp -s "$work/zip-readme" "$source_dir/doc/user-readme.md"
check "archive: the user's README" cmp -s "$work/archive-readme" "$source_dir/doc/user-readme.md"

# Reproducible: no time of the build in any of the three.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2> /dev/null || echo 0)}
commit_time=$(TZ=UTC date -d "@$epoch" '+%Y-%m-%d %H:%M:%S')
times_of() { awk '{print $4 " " $5}' | sort -u; }  # of tar -tv --full-time
check "archive: every file at the commit's time" same \
  "$(TZ=UTC tar -tvz --full-time -f "$dist/$name.tar.gz" | times_of)" "$commit_time"
deb=$dist/orrinvale_${version}_$(dpkg --print-architecture).deb
check "package: every file at the commit's time" same \
  "$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time | times_of)" "$commit_time"
# A zip keeps even seconds: the commit's, rounded down.
check "zip: every file at the commit's time" same \
  "$(TZ=UTC zipinfo -T "$zip" | awk '/^-/ {print $7}' | sort -u)" \
  "$(TZ=UTC date -d "@$((epoch - epoch % 2))" '+%Y%m%d.%H%M%S')"
unzip -p "$zip" orrinvale.exe > "$work/orrinvale.exe"
check "zip: the program has no time stamp" same \
  "$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$work/orrinvale.exe" | grep '^Time/Date')" \
  "$(printf 'Time/Date\t\tThu Jan  1 00:00:00 1970')"
if [ -n "$other" ]; then
  check "built twice: the same bytes" cmp -s "$dist/SHA256SUMS" "$other/SHA256SUMS"
fi
tar -xzf "$dist/$name.tar.gz" -C "$work"
static=$work/$name/orrinvale
check "archive: the manual is of this version" grep -q "orrinvale $version" "$work/$name/orrinvale.1"
check "static program: no dynamic section" eval \
  'LC_ALL=C readelf -d "$static" | grep -q "There is no dynamic section"'
check "static program: no interpreter" eval '! LC_ALL=C readelf -l "$static" | grep -q INTERP'

# Every format, line-end style and hostile byte that the Windows build is
# compared on, and a large program.
inputs=$work/inputs
mkdir -p "$inputs"
example=$source_dir/examples/Velmarin.asm
cp "$example" "$inputs/ansi.asm"
tr -d '\r' < "$example" > "$inputs/lf-only.asm"
tr '\n' '\r' < "$inputs/lf-only.asm" > "$inputs/cr-only.asm"
for format in UTF-8 UTF-16LE UTF-16BE UTF-32LE UTF-32BE; do
  { printf '\xEF\xBB\xBF' | iconv -f UTF-8 -t "$format"; iconv -f UTF-8 -t "$format" < "$example"; } \
    > "$inputs/$format.asm"
done
printf '\xEF\xBB\xBF; \xE2\x82 \xC0\xAF\nMP4 \xFF\xFE\x80\nx\0y\n' > "$inputs/malformed.asm"
printf '\xFF\xFEM\0P\0004\0\n\0z' > "$inputs/partial.asm"
"$dynamic/velmarin_large_gen" 7 8 "$inputs/large.asm" > /dev/null

if [ "$(id -u)" != 0 ]; then
  echo "skipped: the runs in an empty root need root (chroot)"
else
  for input in "$inputs"/*.asm; do
    kind=$(basename "$input" .asm)
    # The whole root: the program, the file and /dev/null.
    root=$work/root-$kind
    mkdir -p "$root/dev"
    mknod -m 666 "$root/dev/null" c 1 3
    cp "$static" "$root/orrinvale"
    cp "$input" "$root/Velmarin.asm"
    chroot "$root" /orrinvale > "$work/$kind.static.out"
    mkdir -p "$work/dynamic-$kind"
    cp "$input" "$work/dynamic-$kind/Velmarin.asm"
    (cd "$work/dynamic-$kind" && "$dynamic/orrinvale" > "$work/$kind.dynamic.out")
    check "$kind: console as the dynamic build's" cmp -s "$work/$kind.static.out" \
      "$work/$kind.dynamic.out"
    check "$kind: file as the dynamic build's" cmp -s "$root/Velmarin.asm" \
      "$work/dynamic-$kind/Velmarin.asm"
    check "$kind: nothing else in the root" same "$(ls -A "$root" | tr '\n' ' ')" \
      "Velmarin.asm dev orrinvale "
  done
  check "example: rewritten" eval '! cmp -s "$work/root-ansi/Velmarin.asm" "$example"'
fi

finish
