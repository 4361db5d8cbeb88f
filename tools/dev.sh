#!/usr/bin/env bash
# Set-up, build and checks on a Debian 12 machine.
#   tools/dev.sh example   install what is missing, build, run on the bundled example
#   tools/dev.sh test      install what is missing, check the formatting, build, run
#                          the tests in Release (those labelled kernels again on
#                          each narrower kernel), under AddressSanitizer +
#                          UndefinedBehaviorSanitizer on PCRE2, the package and
#                          release checks, and for Windows under Wine; ends with
#                          a table of its stages
#   tools/dev.sh soak      install what is missing, build, run the tests labelled
#                          soak: the sizes and times the everyday run leaves out
#   tools/dev.sh mutants   plant each fault of tests/mutants.txt in a scratch copy,
#                          build, run the Release tests; print the survivors and
#                          how many were killed
#   tools/dev.sh bench     install what is missing, build, run the benchmarks
#   tools/dev.sh windows   install what is missing, build orrinvale.exe with
#                          MinGW-w64 and pack it with its licence and the README
#   tools/dev.sh package   install what is missing, build the Debian package
#   tools/dev.sh release   install what is missing, pass the soak tests, build the
#                          Debian package, the static Linux archive and the
#                          Windows zip, named by version, into build/dist with
#                          their SHA256SUMS; then again from a copy of the tree
#                          in another folder, and check that both are the same
#   tools/dev.sh dist      the release files alone, into build/dist
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# What the example needs: the tool alone.
example_packages=(cmake g++ make pkg-config libpcre3-dev)
packages=("${example_packages[@]}" libpcre2-dev libgtest-dev libbenchmark-dev
          fasm qemu-user-static diffutils bc time acl clang-format xfsprogs)
# Making and checking the Debian package.
package_packages=(dpkg-dev lintian man-db file)
# The Windows build: the cross compiler, Wine to run its tests, and what it
# takes to build PCRE from Debian's source package.
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 dpkg-dev zip unzip xxd man-db bsdextrautils)

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)

install_missing() {  # install_missing PACKAGE...
  local missing=()
  for package in "$@"; do
    dpkg -s "$package" > /dev/null 2>&1 || missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}" > /dev/null
}

build() {  # build DIRECTORY CMAKE-OPTIONS...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "$@" > /dev/null
  cmake --build "$dir" -j "$(nproc)"
}

# Only what the tests run: the test program, the tool and the generator the
# assembler test uses.
build_tests() {  # build_tests DIRECTORY CMAKE-OPTIONS...
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" "$@" > /dev/null
  cmake --build "$dir" -j "$(nproc)" --target orrinvale orrinvale_tests velmarin_program_gen
}

# Each stage of a run timed and counted, for the table at its end: a stage
# that takes longer than it did is seen the day it does.
stage_rows=()
stage() {  # stage NAME COMMAND...: runs COMMAND, its output shown and counted
  local name=$1 log start status=0 tests=- failed=-
  shift
  log=$(mktemp)
  start=$(date +%s.%N)
  # In a subshell of its own, where a failing step still ends it.
  set +e
  (set -e; "$@") 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  set -e
  local seconds
  seconds=$(echo "$(date +%s.%N) - $start" | bc)
  # ctest's summary, or the scripts' closing line.
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$summary" ]; then
    tests=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<< "$summary")
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<< "$summary")
  else
    summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1 || true)
    if [ -n "$summary" ]; then
      failed=$(awk '{print $3}' <<< "$summary")
      tests=$(( $(awk '{print $1}' <<< "$summary") + failed ))
    fi
  fi
  rm -f "$log"
  stage_rows+=("$(printf '%-22s %6s %7s %8.1f' "$name" "$tests" "$failed" "$seconds")")
  if [ "$status" -ne 0 ]; then
    print_stages
    return "$status"
  fi
}
print_stages() {
  echo
  printf '%-22s %6s %7s %8s\n' stage tests failed seconds
  printf '%s\n' "${stage_rows[@]}"
}

run_example() {
  # Only the tool, so that the result shows as soon as the packages are in.
  cmake -S "$root" -B build/example -DCMAKE_BUILD_TYPE=Release -DORRINVALE_TESTS=OFF > /dev/null
  cmake --build build/example -j "$(nproc)" --target orrinvale
  local scratch
  scratch=$(mktemp -d)
  cp examples/Velmarin.asm "$scratch/"
  echo "== orrinvale in $scratch"
  # On a terminal the tool prints UTF-8; redirected it prints UTF-16LE.
  if [ -t 1 ]; then
    (cd "$scratch" && "$root/build/example/orrinvale")
  else
    (cd "$scratch" && "$root/build/example/orrinvale" | iconv -f UTF-16LE -t UTF-8)
  fi
  echo "== diff examples/Velmarin.asm $scratch/Velmarin.asm"
  diff --strip-trailing-cr examples/Velmarin.asm "$scratch/Velmarin.asm" || true
}

# The sources as .clang-format has them; a difference fails the run.
check_format() {
  git -C "$root" ls-files -- '*.cc' '*.h' | (cd "$root" && xargs clang-format --dry-run -Werror)
  echo "Formatting: as .clang-format has it"
}

# The shipped program holds nothing that exists for tests: no seam, no
# helper that only tests or the reference way call.
check_no_test_code() {
  local found
  found=$(nm -C "$1" | grep -E 'seams::|noteStep|takeSteps|failNth|beforeNth|fileChangeCount|seekCount|useBlockSize|keyOf|TableKeys|readLine|writeLine|writeRawLine|writeFormat|createForWriting|atEnd\(' || true)
  if [ -n "$found" ]; then
    echo "test code in $1:" >&2
    echo "$found" >&2
    exit 1
  fi
  echo "Shipped program: no test code ($(nm -C "$1" | grep -c ' [Tt] ') functions)"
}

ctest_in() {  # ctest_in DIRECTORY CTEST-OPTIONS...
  local dir=$1
  shift
  (cd "$dir" && ctest --output-on-failure -j 2 "$@")
}

run_tests() {
  stage format check_format
  stage "build: release" build build/release -DCMAKE_BUILD_TYPE=Release
  stage "no test code" check_no_test_code build/release/orrinvale
  stage release ctest_in build/release -LE soak
  # Once more on each narrower kernel, which most processors run: forced, as
  # this machine would pick the widest; only the tests whose outcome hangs on
  # how bytes are classified.
  for kernel in sse2 scalar; do
    ORRINVALE_KERNEL=$kernel stage "kernel: $kernel" ctest_in build/release -L kernels -LE soak
  done
  # The sanitizers' build links the other pattern library, PCRE2: one build
  # runs every test on it, while the Release and Windows builds run them on
  # PCRE 8.
  stage "build: sanitizers+pcre2" build_tests build/sanitize -DCMAKE_BUILD_TYPE=Debug \
    -DORRINVALE_SANITIZE=ON -DORRINVALE_PCRE=2
  stage "sanitizers+pcre2" ctest_in build/sanitize -LE soak
  stage "build: release files" make_release build/release
  deb=$(echo "$root"/build/release/orrinvale_*_"$(dpkg --print-architecture)".deb)
  stage package bash tests/package/package_test.sh "$deb" build/release
  stage "no test code: static" check_no_test_code build/static/orrinvale
  stage "release files" bash tests/package/release_test.sh build/dist build/release
  stage windows run_windows_tests
  print_stages
}

# The tests that need size or time; a release waits on them.
run_soak() {
  build build/release -DCMAKE_BUILD_TYPE=Release
  stage soak ctest_in build/release -L soak --timeout 3600
  print_stages
}

project_version() { sed -n 's/^project(Orrinvale VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt"; }

# The time that every file of a release carries: the commit's, as
# reproducible-builds.org's SOURCE_DATE_EPOCH has it (one given is kept).
source_date_epoch() {
  echo "${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2> /dev/null || echo 0)}"
}

# The program for any x86-64 Linux: linked statically, PCRE and the C++
# runtime included.
build_static() {
  build build/static -DCMAKE_BUILD_TYPE=Release -DORRINVALE_STATIC=ON -DORRINVALE_TESTS=OFF
}

# Everything a release ships, named by the project's version, and the
# checksums of all of it.
make_release() {  # make_release [BUILD_DIR]: the package from that Release build
  local version dist name stage
  version=$(project_version)
  dist=build/dist
  rm -rf "$dist"
  mkdir -p "$dist"
  build_package "${1:-build/package}"
  cp "$deb" "$dist/"
  build_static
  name=orrinvale-$version-linux-x86_64
  stage=build/static/stage
  rm -rf "$stage"
  mkdir -p "$stage/$name"
  strip -o "$stage/$name/orrinvale" build/static/orrinvale
  cp build/static/pcre_license.txt LICENSE build/static/doc/orrinvale.1 "$stage/$name/"
  cp doc/user-readme.md "$stage/$name/README.md"
  # The same bytes for the same sources: fixed owners, modes, order and times.
  chmod 755 "$stage/$name" "$stage/$name/orrinvale"
  chmod 644 "$stage/$name"/*.* "$stage/$name/LICENSE"
  tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime="@$(source_date_epoch)" -cf - "$name" |
    gzip -9n > "$dist/$name.tar.gz"
  build_windows
  cp "build/windows/orrinvale-$version-windows-x86_64.zip" "$dist/"
  (cd "$dist" && sha256sum -- *.deb *.tar.gz *.zip > SHA256SUMS)
  ls -l "$dist"
}

# deb-src entries beside the machine's Debian ones: the same archive, suites,
# components and key, so that the source matches the binary packages.
enable_source_packages() {
  local list=/etc/apt/sources.list.d/orrinvale-deb-src.sources
  [ -f "$list" ] && return
  local entries=""
  for file in /etc/apt/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    entries+=$(awk 'BEGIN { RS = ""; ORS = "\n\n" }
      /(^|\n)Types:[^\n]*deb/ {
        gsub(/(^|\n)#[^\n]*/, ""); sub(/Types:[^\n]*/, "Types: deb-src"); print
      }' "$file")$'\n\n'
  done
  if [ -f /etc/apt/sources.list ]; then
    entries+=$(sed -n 's/^deb \(.*\)$/deb-src \1/p' /etc/apt/sources.list)$'\n'
  fi
  [ -n "${entries//[[:space:]]/}" ] || { echo "no Debian sources entry to derive from" >&2; exit 1; }
  printf '%s' "$entries" | "${sudo[@]}" tee "$list" > /dev/null
  "${sudo[@]}" apt-get update -qq
}

# PCRE 8 for Windows, static, from Debian's own source package of libpcre3
# (with its patches), with UTF-8 and Unicode properties.
build_windows_pcre() {
  local deps=build/windows-deps
  [ -f "$deps/install/lib/libpcre.a" ] && return
  enable_source_packages
  rm -rf "$deps"
  mkdir -p "$deps/source"
  (cd "$deps/source" && apt-get source -qq pcre3 2> /dev/null)
  local source
  source=$(echo "$deps"/source/pcre3-*/)
  cmake -S "$source" -B "$deps/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$root/$deps/install" \
    -DBUILD_SHARED_LIBS=OFF -DPCRE_SUPPORT_UTF=ON -DPCRE_SUPPORT_UNICODE_PROPERTIES=ON \
    -DPCRE_SUPPORT_JIT=ON -DPCRE_BUILD_PCRECPP=OFF -DPCRE_BUILD_PCREGREP=OFF -DPCRE_BUILD_TESTS=OFF \
    -Wno-dev > /dev/null
  cmake --build "$deps/build" -j "$(nproc)" > /dev/null
  cmake --install "$deps/build" > /dev/null
  mkdir -p "$deps/install/share/doc/pcre"
  cp "$source/debian/copyright" "$deps/install/share/doc/pcre/copyright"
}

build_windows() {
  install_missing "${packages[@]}" "${windows_packages[@]}"
  build_windows_pcre
  local linux=()
  [ -x build/release/orrinvale ] && linux=(-DORRINVALE_LINUX_BUILD="$root/build/release")
  build build/windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DORRINVALE_PCRE_ROOT="$root/build/windows-deps/install" \
    "${linux[@]}"
  local zip files=build/windows/zip
  zip=build/windows/orrinvale-$(project_version)-windows-x86_64.zip
  rm -rf "$zip" "$files"
  mkdir -p "$files"
  cp build/windows/orrinvale.exe build/windows/pcre_license.txt LICENSE "$files/"
  # The user's README and the manual as text, with Windows line ends.
  sed 's/$/\r/' doc/user-readme.md > "$files/README.md"
  sed "s/@PROJECT_VERSION@/$(project_version)/" doc/orrinvale.1 > "$files/orrinvale.1"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --nh --nj -l "$files/orrinvale.1" 2> /dev/null | col -bx |
    sed 's/$/\r/' > "$files/orrinvale.txt"
  rm "$files/orrinvale.1"
  # The same bytes for the same sources: fixed modes, order and times (in
  # UTC, as a zip keeps local times, and an even second, as it keeps no odd
  # one), no extra fields.
  local epoch
  epoch=$(source_date_epoch)
  chmod 644 "$files"/*
  touch -d "@$((epoch - epoch % 2))" "$files"/*
  (cd "$files" && TZ=UTC zip -qX "$root/$zip" orrinvale.exe orrinvale.txt README.md LICENSE \
    pcre_license.txt)
  echo "$root/build/windows/orrinvale.exe"
  echo "$root/$zip"
}

# Under Wine, headless: a persistent server with its streams closed, so that
# ctest does not wait on pipes the server inherited.
run_windows_tests() {
  export WINEDEBUG=-all WINEPREFIX="$root/build/windows/wine-prefix"
  mkdir -p "$WINEPREFIX"  # the server starts in it
  # One may be running already for this prefix (an earlier run's): it serves.
  # New files get mode 0666 less the server's umask: the usual one.
  (umask 022 && wineserver -p < /dev/null > /dev/null 2>&1) || true
  wine wineboot < /dev/null > /dev/null 2>&1
  local status=0
  (cd build/windows && ctest --output-on-failure --timeout 900) || status=$?
  wineserver -k || true
  return "$status"
}

# The package of a Release build: its own (the tests left out), or one the
# tests have built already, whose program is the same.
build_package() {  # build_package [BUILD_DIR]
  local dir=${1:-build/package}
  if [ "$dir" = build/package ]; then
    build "$dir" -DCMAKE_BUILD_TYPE=Release -DORRINVALE_TESTS=OFF
  fi
  rm -f "$dir"/orrinvale_*.deb
  (cd "$dir" && SOURCE_DATE_EPOCH=$(source_date_epoch) cpack > /dev/null)
  deb=$(echo "$root/$dir"/orrinvale_*_"$(dpkg --print-architecture)".deb)
  echo "$deb"
}

# The release files built again from a copy of the tree in another folder,
# at the same time, and the release checks given both: the same bytes.
check_reproducible() {
  local copy=build/reproduce
  rm -rf "$copy"
  mkdir -p "$copy/src"
  git ls-files -co --exclude-standard | grep -v '^build/' | tar -cf - -T - | tar -xf - -C "$copy/src"
  SOURCE_DATE_EPOCH=$(source_date_epoch) bash "$copy/src/tools/dev.sh" dist
  SOURCE_DATE_EPOCH=$(source_date_epoch) bash tests/package/release_test.sh build/dist \
    build/release "$copy/src/build/dist"
}

run_benchmarks() {
  build build/bench -DCMAKE_BUILD_TYPE=Release -DORRINVALE_BENCHMARKS=ON
  bash bench/whole_run.sh build/bench "${@}"
  # The release's static program, on the same files.
  build_static
  echo "== the static program"
  bash bench/whole_run.sh build/static "${@}"
  build/bench/bench/orrinvale_micro_bench
}

case "${1:-}" in
  example) install_missing "${example_packages[@]}"; run_example ;;
  test)
    install_missing "${packages[@]}" "${package_packages[@]}" "${windows_packages[@]}"
    run_tests ;;
  soak) install_missing "${packages[@]}"; run_soak ;;
  mutants) shift; install_missing "${packages[@]}"; bash tools/mutants.sh "$@" ;;
  package) install_missing "${example_packages[@]}" "${package_packages[@]}"; build_package ;;
  bench) shift; install_missing "${packages[@]}"; run_benchmarks "$@" ;;
  windows) build_windows ;;
  release)
    install_missing "${packages[@]}" "${package_packages[@]}" "${windows_packages[@]}"
    run_soak
    make_release
    check_reproducible ;;
  dist)
    install_missing "${packages[@]}" "${package_packages[@]}" "${windows_packages[@]}"
    make_release ;;
  *) echo "usage: tools/dev.sh example|test|soak|mutants|bench|windows|package|release|dist" >&2
     exit 2 ;;
esac
