#!/usr/bin/env bash
# Installs and runs what `make package` made, as a user would get it.
# - The Debian package: its fields and files; unpacked into a scratch root,
#   its programs answer -h, generate an image from the installed example
#   (the same bytes as the build's own program) and make a simulator state;
#   every manual page formats without a warning (man -l). Run as root with
#   CI set (as .ci/run is), the package is also installed for real with apt,
#   which resolves its dependencies, checked at /usr/bin and with `man`, and
#   removed again; a package of that name installed before is left alone.
# - The Windows zip file: its files, CR LF in its texts; unpacked, its
#   programs run under Wine: -h, and -z on its own example gives the same
#   image as the Linux build.
# The version of the packages, of the manual pages and of the changelog is
# the project version of the build.
#
# Usage: tools/check_packages.sh LINUX_RELEASE_BUILD WINDOWS_BUILD
# Ends with "N passed, N failed"; the exit code is 1 when anything failed.
set -u

ROOT=$(cd "$(dirname "$0")/.." && pwd)
LIN=$(cd "${1:?Linux Release build folder}" && pwd) || exit 1
WIN=$(cd "${2:?Windows build folder}" && pwd) || exit 1
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$LIN/CMakeCache.txt")
DEB=$LIN/orn5300cli_${VERSION}_$(dpkg --print-architecture).deb
ZIP=$WIN/orn5300cli-${VERSION}-win64.zip
for f in "$DEB" "$ZIP"; do
  [ -f "$f" ] || { echo "missing $f (run make package first)"; exit 1; }
done

placeholder=$(printf 'X%.0s' 1 2 3 4 5 6)  # the six characters mktemp replaces
WORK=$(mktemp -d "${TMPDIR:-/tmp}/orn-packages.$placeholder")
WINESERVER=
REAL_INSTALL=0
cleanup() {
  [ -n "$WINESERVER" ] && "$WINESERVER" -k >/dev/null 2>&1
  [ $REAL_INSTALL = 1 ] && dpkg --purge orn5300cli >/dev/null 2>&1
  rm -rf "$WORK"
}
trap cleanup EXIT

# The programs run without a simulator chosen from outside.
unset ORN5300_SIM ORN5300_SIM_TRACE

PASSED=0 FAILED=0
check() {  # check DESCRIPTION COMMAND...: one line per check
  local what=$1
  shift
  local out
  if out=$("$@" 2>&1); then
    PASSED=$((PASSED + 1))
    echo "PASS $what"
  else
    FAILED=$((FAILED + 1))
    echo "FAIL $what"
    [ -n "$out" ] && echo "$out" | head -20 | sed 's/^/    /'
  fi
}

# --- Helpers -------------------------------------------------------------------

# field NAME: a field of the .deb's control file.
field() { dpkg-deb -f "$DEB" "$1"; }

# Every manual page of the tree names the version in its title line.
man_page_versions() {
  local page bad=0
  for page in "$ROOT"/docs/*.1; do
    grep -q "^\.TH .*\"[^\"]* $VERSION\"" "$page" || { echo "$(basename "$page"): .TH does not name $VERSION"; bad=1; }
  done
  return $bad
}

changelog_version() {
  local first
  first=$(zcat "$1" | head -1)
  [[ $first == "orn5300cli ($VERSION) "* ]] || { echo "changelog starts: $first"; return 1; }
}

deb_files() {
  local list missing=0 f page
  list=$(dpkg-deb -c "$DEB" | awk '{print $6}' | sed 's|^\./||')
  for f in usr/bin/orn5300cli usr/bin/orn5300sim usr/share/doc/orn5300cli/copyright \
           usr/share/doc/orn5300cli/changelog.gz usr/share/doc/orn5300cli/README.md \
           usr/share/lintian/overrides/orn5300cli; do
    grep -qx "$f" <<<"$list" || { echo "missing $f"; missing=1; }
  done
  for page in "$ROOT"/docs/*.1; do
    f=usr/share/man/man1/$(basename "$page").gz
    grep -qx "$f" <<<"$list" || { echo "missing $f"; missing=1; }
  done
  for f in "$ROOT"/examples/*.ini; do
    grep -qx "usr/share/doc/orn5300cli/examples/$(basename "$f")" <<<"$list" || { echo "missing example $(basename "$f")"; missing=1; }
  done
  if [ -x "$LIN/orn5300img" ]; then
    grep -qx usr/bin/orn5300img <<<"$list" || { echo "missing usr/bin/orn5300img"; missing=1; }
  fi
  return $missing
}

# stripped FILE...: no symbol table left.
stripped() {
  local f
  for f in "$@"; do
    file "$f" | grep -q ', stripped' || { file "$f"; return 1; }
  done
}

# usage PROGRAM: -h prints the banner with the version and the usage, exit 0.
usage() {
  local out rc
  out=$("$@" -h 2>&1)
  rc=$?
  [ $rc -eq 0 ] || { echo "exit code $rc"; return 1; }
  grep -q "Utility v$VERSION " <<<"$out" || { echo "no banner with v$VERSION"; return 1; }
  grep -q '^Usage: ' <<<"$out" || { echo "no usage"; return 1; }
}

# image PROGRAM DIR EXAMPLE: -z on the example in DIR writes the same image
# as the build's own program does from the tree's example.
image() {
  local program=$1 dir=$2 example=$3
  local ref=$WORK/reference.bin
  rm -f "$ref" "$dir/image.bin"
  (cd "$WORK" && "$LIN/orn5300cli" -i "$ROOT/examples/orn5300.ini" -z "$ref" -d ORN5300 >/dev/null) ||
    { echo "the build's own orn5300cli failed"; return 1; }
  (cd "$dir" && "$program" -i "$example" -z image.bin -d ORN5300 >"$WORK/image.out" 2>&1) ||
    { echo "exit code $?"; tail -3 "$WORK/image.out"; return 1; }
  cmp "$ref" "$dir/image.bin"
}

simulator() {
  local dir=$WORK/sim
  mkdir -p "$dir"
  "$1" init "$dir/dev.json" --chip ORN5350 && "$1" show "$dir/dev.json" | grep -q '^chip_id *0x53500000'
}

# man_pages DIR: every page in DIR formats without a warning.
man_pages() {
  local page out bad=0
  for page in "$1"/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || { echo "$(basename "$page"): $out"; bad=1; }
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q '^NAME' || { echo "$(basename "$page"): no NAME"; bad=1; }
  done
  return $bad
}

# crlf FILE...: every line ends in CR LF.
crlf() {
  local f
  for f in "$@"; do
    perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' "$f" || { echo "$f has LF without CR"; return 1; }
  done
}

# --- The Debian package ----------------------------------------------------------

echo "Debian package: $DEB"
check "version $VERSION in the manual pages" man_page_versions
check "package name and version" test "$(field Package) $(field Version)" = "orn5300cli $VERSION"
check "dependencies: $(field Depends)" grep -q 'libc6 (>= ' <<<"$(field Depends)"
check "files" deb_files

SCRATCH=$WORK/root
dpkg-deb -x "$DEB" "$SCRATCH"
DOC=$SCRATCH/usr/share/doc/orn5300cli
check "copyright names Apache-2.0" grep -q '^License: Apache-2.0' "$DOC/copyright"
check "changelog names $VERSION" changelog_version "$DOC/changelog.gz"
check "programs stripped" stripped "$SCRATCH"/usr/bin/*
check "orn5300cli -h (scratch root)" usage "$SCRATCH/usr/bin/orn5300cli"
check "orn5300cli -z on the installed example (scratch root)" \
  image "$SCRATCH/usr/bin/orn5300cli" "$WORK" "$DOC/examples/orn5300.ini"
check "orn5300sim init and show (scratch root)" simulator "$SCRATCH/usr/bin/orn5300sim"
check "man -l on every manual page" man_pages "$SCRATCH/usr/share/man/man1"

if [ "$(id -u)" -eq 0 ] && [ "${CI:-}" = true ]; then
  if dpkg-query -W -f='${Status}' orn5300cli 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP real install: a package orn5300cli is installed already"
  else
    REAL_INSTALL=1
    check "apt-get install of the .deb" env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=120 "$DEB"
    check "orn5300cli -h (installed)" usage /usr/bin/orn5300cli
    check "orn5300cli -z on the installed example (installed)" \
      image /usr/bin/orn5300cli "$WORK" /usr/share/doc/orn5300cli/examples/orn5300.ini
    check "orn5300sim init and show (installed)" simulator /usr/bin/orn5300sim
    check "man finds orn5300cli(1) and orn5300sim(1)" man -w orn5300cli orn5300sim
    check "dpkg --purge" dpkg --purge orn5300cli
    REAL_INSTALL=0
    check "nothing left in /usr/bin" test ! -e /usr/bin/orn5300cli
  fi
else
  echo "SKIP real install: only as root with CI=true"
fi

# --- The Windows zip file ----------------------------------------------------------

echo "Windows package: $ZIP"
UNZIPPED=$WORK/zip
mkdir -p "$UNZIPPED"
(cd "$UNZIPPED" && cmake -E tar xf "$ZIP")
TOP=$UNZIPPED/orn5300cli-${VERSION}-win64
zip_files() {
  local f missing=0 page
  for f in orn5300cli.exe orn5300sim.exe README.txt LICENSE.txt COPYRIGHT.txt docs/simulator.txt; do
    [ -f "$TOP/$f" ] || { echo "missing $f"; missing=1; }
  done
  for page in "$ROOT"/docs/*.1; do
    f=docs/$(basename "$page" .1).txt
    [ -s "$TOP/$f" ] || { echo "missing $f"; missing=1; }
  done
  for f in "$ROOT"/examples/*.ini; do
    [ -f "$TOP/examples/$(basename "$f")" ] || { echo "missing examples/$(basename "$f")"; missing=1; }
  done
  if [ -f "$WIN/orn5300img.exe" ]; then
    [ -f "$TOP/orn5300img.exe" ] || { echo "missing orn5300img.exe"; missing=1; }
  fi
  return $missing
}
check "files" zip_files
check "licence is Apache-2.0" grep -q 'Apache License' "$TOP/LICENSE.txt"
check "texts with CR LF" crlf "$TOP"/*.txt "$TOP"/docs/*.txt "$TOP"/examples/*.ini

find_wine() {
  local w
  for w in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 "$(command -v wine 2>/dev/null)"; do
    [ -n "$w" ] && [ -x "$w" ] && { echo "$w"; return; }
  done
}
WINE=$(find_wine)
if [ -z "$WINE" ]; then
  check "Wine is installed (Debian package wine64)" false
else
  WINESERVER=$(dirname "$WINE")/wineserver
  [ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver 2>/dev/null || true)
  export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset DISPLAY WAYLAND_DISPLAY
  wine_cli() { timeout 120 "$WINE" "$TOP/orn5300cli.exe" "$@"; }
  # The Windows program prints CR LF; the usage check reads lines.
  wine_usage() {
    wine_cli -h >"$WORK/wine.out" 2>/dev/null || { echo "exit code $?"; return 1; }
    tr -d '\r' <"$WORK/wine.out" >"$WORK/wine.txt"
    grep -q "Utility v$VERSION " "$WORK/wine.txt" && grep -q '^Usage: ' "$WORK/wine.txt"
  }
  check "orn5300cli.exe -h under Wine" wine_usage
  check "orn5300cli.exe -z on the zipped example (CR LF) under Wine" \
    image wine_cli "$TOP" 'examples\orn5300.ini'
  wine_sim_usage() {
    timeout 120 "$WINE" "$TOP/orn5300sim.exe" >/dev/null 2>&1
    [ $? -eq 2 ]
  }
  check "orn5300sim.exe without arguments prints its usage (exit code 2)" wine_sim_usage
fi

echo
echo "packages: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
