#!/usr/bin/env bash
# packaging_test.sh SOURCE WORK FULL_BUILD [LAUNCHER]
# Configures and builds the program in WORK/build with the packagers' preset ("release":
# BUILD_TESTING=OFF), then checks:
#   - the configure never looked for what only the tests and tools need;
#   - `cmake --install` into a DESTDIR gives exactly the program, the README and Debian's
#     copyright and changelog.gz, and so does the install of FULL_BUILD, the tree with the
#     tests, tools and benchmarks;
#   - `--target package` makes the TGZ (one flat folder) and the DEB;
#   - the DEB depends on Qt Widgets, libcurl, ALSA and the window's font, each once, holds
#     no test, benchmark or tool file, and passes lintian (errors and warnings);
#   - hardening-check finds every hardening feature in the shipped program, or the build
#     shows it applied those that hardening-check cannot see there (below);
#   - a second build in WORK/build-again gives the same TGZ and DEB, byte for byte.
# WORK is kept between runs, so a second run rebuilds only what changed; LAUNCHER (ccache)
# is used when given, for both builds.
set -euo pipefail
source_dir=$1 work=$2 full_build=$3 launcher=${4:-}
build=$work/build
again=$work/build-again
# Both builds lie at the same depth under WORK: with it as ccache's base folder their
# compile commands read alike and the second build takes the first one's objects.
if [ -n "$launcher" ] && [ -z "${CCACHE_BASEDIR:-}" ]; then
  export CCACHE_BASEDIR=$work
fi
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The files an install of the default layout gives, under the prefix /usr.
expected_install="usr/libexec/korvani-download/korvani-download
usr/share/doc/korvani-download/README.md
usr/share/doc/korvani-download/changelog.gz
usr/share/doc/korvani-download/copyright"
# The portable folder in the TGZ.
expected_tgz="korvani-download-VERSION-SYSTEM/LICENSE
korvani-download-VERSION-SYSTEM/README.md
korvani-download-VERSION-SYSTEM/korvani-download"
# Run-time libraries the DEB must depend on, as Debian names their packages (a t64 suffix
# allowed), and the font the window draws with.
expected_depends="libqt6widgets6 libcurl4 libssl3 libasound2 fonts-liberation2"
# What only the tests, the tools and the benchmarks build.
not_shipped='package-host|_test|_fuzz|fetch_bench|startup_anchor|window_watch|/tests?/|/bench/|/tools/'

# Compares two sorted lists of file names; says what is missing and what is extra.
same_files() {
  local what=$1 expected=$2 actual=$3
  if [ "$expected" != "$actual" ]; then
    fail "$what:"
    diff <(echo "$expected") <(echo "$actual") | sed -n 's/^</  missing:/p; s/^>/  extra:  /p' >&2
  fi
}

# --- Configure and build -----------------------------------------------------------------
# configure_release TREE: configures TREE from the packagers' preset, as a packager would.
configure_release() {
  local tree=$1 configure=(cmake --preset release -B "$1" --fresh)
  [ -n "$launcher" ] && configure+=(-DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
  (cd "$source_dir" && "${configure[@]}") >"$tree.configure.log" 2>&1 ||
    { cat "$tree.configure.log" >&2; echo "FAIL: configure $tree" >&2; exit 1; }
}
mkdir -p "$work"
configure_release "$build"
# A packager's machine need not have cpp-httplib or Qt Test: the configure must not look.
looked=$(grep -E '^(Qt6Test_DIR|Qt6Network_DIR|CPP_HTTPLIB_[A-Z_]*|pkgcfg_lib_CPP_HTTPLIB[A-Za-z_]*)[:=]' \
  "$build/CMakeCache.txt" || true)
[ -n "$looked" ] && fail "the program's configure looked for test or tool packages:" && echo "$looked" >&2
cmake --build "$build" --target korvani-download >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; echo "FAIL: build" >&2; exit 1; }

# --- Install -------------------------------------------------------------------------------
# Installs TREE into the DESTDIR STAGE; lists the files that arrived in STAGE.list.
install_into() {
  local tree=$1 stage=$2
  rm -rf "$stage"
  : >"$stage.list"
  if ! DESTDIR=$stage cmake --install "$tree" --prefix /usr >"$stage.log" 2>&1; then
    cat "$stage.log" >&2
    fail "cmake --install $tree"
    return
  fi
  (cd "$stage" && find . -type f -printf '%P\n' | LC_ALL=C sort) >"$stage.list"
}
install_into "$build" "$work/stage"
same_files "install of the program's build into a DESTDIR" "$expected_install" "$(cat "$work/stage.list")"
program=$work/stage/usr/libexec/korvani-download/korvani-download
[ -x "$program" ] || fail "the installed program is not executable"
# The build tree's RUNPATH would tie the installed program to this machine's build folder.
if readelf -d "$program" 2>/dev/null | grep -qE 'R(UN)?PATH'; then
  fail "the installed program keeps a RUNPATH: $(readelf -d "$program" | grep -E 'R(UN)?PATH')"
fi
install_into "$full_build" "$work/full-stage"
same_files "install of the full build (tests, tools, benchmarks) into a DESTDIR" "$expected_install" \
  "$(cat "$work/full-stage.list")"

# --- Packages ------------------------------------------------------------------------------
rm -f "$build"/*.tar.gz "$build"/*.deb
cmake --build "$build" --target package >"$work/package.log" 2>&1 ||
  { cat "$work/package.log" >&2; echo "FAIL: --target package" >&2; exit 1; }
tgz=$(find "$build" -maxdepth 1 -name '*.tar.gz')
deb=$(find "$build" -maxdepth 1 -name '*.deb')
[ "$(echo "$tgz" | grep -c .)" -eq 1 ] || fail "expected one .tar.gz, found: ${tgz:-none}"
[ "$(echo "$deb" | grep -c .)" -eq 1 ] || fail "expected one .deb, found: ${deb:-none}"
[ "$failures" -eq 0 ] || exit 1

folder=$(basename "$tgz" .tar.gz)
same_files "TGZ $(basename "$tgz")" "${expected_tgz//korvani-download-VERSION-SYSTEM/$folder}" \
  "$(tar -tzf "$tgz" | grep -v '/$' | LC_ALL=C sort)"

depends=$(dpkg-deb -f "$deb" Depends)
for package in $expected_depends; do
  # One entry of the comma-separated list: the name, then a version, a comma or the end.
  echo ", $depends," | grep -qE ", ${package}(t64)?( \([^)]*\))?," ||
    fail "the DEB's Depends lacks $package: $depends"
done
deb_files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | LC_ALL=C sort)
same_files "DEB $(basename "$deb")" "$expected_install" "$deb_files"
shipped=$(echo "$deb_files" | grep -E "$not_shipped" || true)
[ -z "$shipped" ] || fail "the DEB holds test, benchmark or tool files: $shipped"
for field in Section Description; do
  [ -n "$(dpkg-deb -f "$deb" "$field")" ] || fail "the DEB has no $field"
done
twice=$(echo "$depends" | tr ',' '\n' | sed 's/^ *//; s/[ (].*//' | LC_ALL=C sort | uniq -d)
[ -z "$twice" ] || fail "the DEB's Depends names ${twice//$'\n'/ } more than once: $depends"
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  fail "lintian on $(basename "$deb")"
fi

# --- Hardening -----------------------------------------------------------------------------
# hardening-check judges the program by the traces each feature leaves. Three can leave
# none for reasons outside the build, so for those a verdict other than "yes" is taken
# only with proof that the build applied the feature:
#  - fortified functions: only calls whose buffer size the compiler knows become checked
#    ones, and the program makes none (its memcpy and the like come from std::string);
#  - stack clash probes: only frames larger than a page get them, and the program has none;
#  - control flow marking: the linker marks the program only if every object is marked,
#    and Debian 12's C library start files (crt1.o, crti.o, crtn.o) are not.
rm -rf "$work/deb-root"
dpkg-deb -x "$deb" "$work/deb-root"
hardening=$(hardening-check "$work/deb-root/usr/libexec/korvani-download/korvani-download" 2>&1 || true)
# compiled_with FLAG: every compile command of the release build has FLAG.
compiled_with() {
  local commands
  commands=$(grep '"command"' "$build/compile_commands.json")
  [ -n "$commands" ] && ! grep -vqF -- " $1 " <<<"$commands"
}
# objects_marked: all of the program's objects are marked for IBT and shadow stacks, and
# the C library's start file is not, which is what leaves the program unmarked. The
# objects are the ones the build has now (WORK is kept, and may hold files of sources
# since renamed).
objects_marked() {
  local object objects
  readelf -n "$(g++ -print-file-name=crti.o)" | grep -q 'x86 feature: IBT, SHSTK' && return 1
  objects=$(ninja -C "$build" -t targets all | sed -n 's/^\(src\/[^:]*\.o\): .*/\1/p')
  [ -n "$objects" ] || return 1
  while read -r object; do
    readelf -n "$build/$object" | grep -q 'x86 feature: IBT, SHSTK' || return 1
  done <<<"$objects"
}
failures_before=$failures
while IFS='|' read -r feature proof; do
  verdict=$(sed -n "s/^ *$feature: //p" <<<"$hardening")
  case $verdict in
    yes*) ;;
    *) if [ -z "$proof" ] || ! $proof; then
         fail "hardening-check: $feature: ${verdict:-not reported}"
       fi ;;
  esac
done <<'FEATURES'
Position Independent Executable|
Stack protected|
Fortify Source functions|compiled_with -D_FORTIFY_SOURCE=2
Read-only relocations|
Immediate binding|
Stack clash protection|compiled_with -fstack-clash-protection
Control flow integrity|objects_marked
FEATURES
[ "$failures" -eq "$failures_before" ] || echo "$hardening" >&2

# --- The same packages from another folder -------------------------------------------------
configure_release "$again"
rm -f "$again"/*.tar.gz "$again"/*.deb
cmake --build "$again" --target package >"$work/again.log" 2>&1 ||
  { cat "$work/again.log" >&2; echo "FAIL: --target package in $again" >&2; exit 1; }
# Without a time to stamp them with, the packages take the time they are made.
no_time=$(grep -ho 'Neither SOURCE_DATE_EPOCH nor a git history' "$build.configure.log" || true)
for made in "$tgz" "$deb"; do
  cmp "$made" "$again/$(basename "$made")" >&2 ||
    fail "$(basename "$made") differs when built in $again${no_time:+ ($no_time)}"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "packaging: install, TGZ and DEB as expected, lintian-clean, hardened and the same from two" \
  "folders ($(basename "$tgz"), $(basename "$deb"))"
