#!/usr/bin/env bash
# Runs the Windows executables under Wine, headless, and checks that they
# behave exactly like the Linux build: for every case both builds run on
# their own fresh copy of the same inputs, and their standard output (CR LF
# read as LF), exit codes, written files and simulator state must agree.
#
# Usage: run_wine_tests.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
#   defaults: build and build-windows beside this repository's top folder.
# Environment:
#   WINE              the Wine loader (default: wine64 on PATH, /usr/lib/wine/wine64, wine)
#   ORN_WINE_PREFIX   reuse this Wine prefix instead of a fresh private one
#   ORN_WINE_KEEP=1   keep the work folder for inspection
#
# Cases whose feature is missing from the build are reported as skipped with
# the reason. Ends with "N passed, N failed, N skipped"; the exit code is 1
# when anything failed, 77 when Wine is not available.
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
LIN_DIR=$(cd "${1:-$ROOT/build}" 2>/dev/null && pwd) || { echo "no Linux build folder: ${1:-$ROOT/build}"; exit 1; }
WIN_DIR=$(cd "${2:-$ROOT/build-windows}" 2>/dev/null && pwd) || { echo "no Windows build folder: ${2:-$ROOT/build-windows}"; exit 1; }
LIN_CLI=$LIN_DIR/orn5300cli
LIN_SIM=$LIN_DIR/orn5300sim
WIN_CLI=$WIN_DIR/orn5300cli.exe
WIN_SIM=$WIN_DIR/orn5300sim.exe
EXAMPLES=$ROOT/examples
for f in "$LIN_CLI" "$LIN_SIM" "$WIN_CLI" "$WIN_SIM"; do
  [ -f "$f" ] || { echo "missing $f (run make build and make windows first)"; exit 1; }
done

# --- Wine -------------------------------------------------------------------

find_wine() {
  if [ -n "${WINE:-}" ]; then echo "$WINE"; return; fi
  local w
  for w in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 "$(command -v wine 2>/dev/null)"; do
    [ -n "$w" ] && [ -x "$w" ] && { echo "$w"; return; }
  done
}
WINE=$(find_wine)
if [ -z "$WINE" ]; then
  echo "SKIP all: Wine is not installed (Debian package wine64)"
  exit 77
fi
WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver 2>/dev/null || true)

placeholder=$(printf 'X%.0s' 1 2 3 4 5 6)  # the six characters mktemp replaces
WORK=$(mktemp -d "${TMPDIR:-/tmp}/orn-wine.$placeholder")
export WINEPREFIX=${ORN_WINE_PREFIX:-$WORK/prefix}
export WINEDEBUG=-all
# No Mono or Gecko installers, no windows: the programs are console programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  # Ends the wineserver of this prefix only; other Wine sessions are left alone.
  [ -n "$WINESERVER" ] && "$WINESERVER" -k >/dev/null 2>&1
  if [ "${ORN_WINE_KEEP:-0}" = 1 ]; then echo "work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

# Runs a Windows program; its stderr goes to the file named by $WINE_ERR.
wine_run() {
  timeout 120 "$WINE" "$@" 2>>"${WINE_ERR:-/dev/null}"
}

echo "Wine: $WINE ($("$WINE" --version 2>/dev/null)), prefix $WINEPREFIX"
start=$(date +%s)
WINE_ERR=$WORK/prefix-setup.err wine_run cmd /c exit 0 >/dev/null
echo "Wine prefix ready after $(( $(date +%s) - start )) s"

# --- Results ----------------------------------------------------------------

PASSED=0 FAILED=0 SKIPPED=0
pass() { PASSED=$((PASSED + 1)); echo "PASS $CASE${1:+: $1}"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL $CASE: $1"; }
skip() { SKIPPED=$((SKIPPED + 1)); echo "SKIP $CASE: $1"; }

# --- Cases ------------------------------------------------------------------
# Each case has two folders with identical inputs, lin/ and win/; both builds
# run inside their own folder with the same relative file names.

new_case() {
  CASE=$1
  CDIR=$WORK/cases/$CASE
  mkdir -p "$CDIR/lin" "$CDIR/win"
}

# put SOURCE [NAME]: copies an input file into both folders.
put() {
  cp "$1" "$CDIR/lin/${2:-$(basename "$1")}" && cp "$1" "$CDIR/win/${2:-$(basename "$1")}"
}

# state_init [init options]: a fresh simulator state file state.json in both folders.
state_init() {
  (cd "$CDIR/lin" && "$LIN_SIM" init state.json "$@" >/dev/null) && cp "$CDIR/lin/state.json" "$CDIR/win/state.json"
}

# state_set KEY VALUE: changes one key of both state files.
state_set() {
  (cd "$CDIR/lin" && "$LIN_SIM" set state.json "$1" "$2" >/dev/null) && cp "$CDIR/lin/state.json" "$CDIR/win/state.json"
}

# Printed output of a run. Standard output of the Windows build is in text
# mode, which writes every LF as CR LF: exactly one CR before each LF is taken
# away again (a CR that the program printed itself stays). The invocation
# name in the usage lines is the one thing that legitimately differs.
normalise_windows() {
  perl -pe 's/\r\n\z/\n/' | normalise_linux
}
normalise_linux() {
  sed -e 's/^Usage: [^ ]* /Usage: PROGRAM /'
}

# Text mode on the Windows side: true when some LF has no CR in front of it.
bare_lf() {
  perl -0777 -ne 'exit(/(?<!\r)\n/ ? 0 : 1)' "$1"
}

# run_both [--sim] ARGS...: runs both command-line tools on their folders.
# With --sim each talks to its folder's simulator state (named by an absolute
# path, which Wine maps through drive Z:) and traces to trace.jsonl.
# Sets LOUT, WOUT (normalised stdout), LRC, WRC.
run_both() {
  local sim=0
  [ "${1:-}" = --sim ] && { sim=1; shift; }
  local -a lenv=(env -u ORN5300_SIM -u ORN5300_SIM_TRACE) wenv=(env -u ORN5300_SIM -u ORN5300_SIM_TRACE)
  if [ $sim = 1 ]; then
    lenv=(env "ORN5300_SIM=$CDIR/lin/state.json" ORN5300_SIM_TRACE=trace.jsonl)
    wenv=(env "ORN5300_SIM=$CDIR/win/state.json" ORN5300_SIM_TRACE=trace.jsonl)
  fi
  run_programs "$LIN_CLI" "$WIN_CLI" "$@"
}

# run_programs LINUX_PROGRAM WINDOWS_PROGRAM ARGS...: runs both programs on
# their folders with the environments in lenv and wenv.
run_programs() {
  local lprog=$1 wprog=$2
  shift 2
  (cd "$CDIR/lin" && "${lenv[@]}" "$lprog" "$@" </dev/null >"$CDIR/lin.out" 2>"$CDIR/lin.err")
  LRC=$?
  (cd "$CDIR/win" && "${wenv[@]}" timeout 120 "$WINE" "$wprog" "$@" \
     </dev/null >"$CDIR/win.raw" 2>"$CDIR/win.err")
  WRC=$?
  normalise_linux <"$CDIR/lin.out" >"$CDIR/lin.txt"
  normalise_windows <"$CDIR/win.raw" >"$CDIR/win.txt"
  LOUT=$(cat "$CDIR/lin.txt")
  WOUT=$(cat "$CDIR/win.txt")
}

# missing_feature: prints the Linux build's own "not supported" line when the
# feature the case needs has not been built yet (then the case is skipped).
missing_feature() {
  grep -m1 -i "not supported by this build" "$CDIR/lin.txt" "$CDIR/lin.err" 2>/dev/null | sed 's/^[^:]*://'
}

# Readable form of a simulator state, for comparing states whose JSON
# formatting may differ.
show_state() {
  local what
  for what in "" eeprom otp mcu; do "$LIN_SIM" show "$1" $what 2>&1; done
}

# same_files: the two folders hold the same files with the same contents.
same_files() {
  local lfiles wfiles f problems=""
  lfiles=$(cd "$CDIR/lin" && find . -type f | sort)
  wfiles=$(cd "$CDIR/win" && find . -type f | sort)
  if [ "$lfiles" != "$wfiles" ]; then
    echo "different files: Linux [$(echo $lfiles)] Windows [$(echo $wfiles)]"
    return 1
  fi
  for f in $lfiles; do
    case "$f" in
      ./state.json)
        if [ "$(show_state "$CDIR/lin/$f")" != "$(show_state "$CDIR/win/$f")" ]; then
          problems="$problems simulator state differs;"
          diff <(show_state "$CDIR/lin/$f") <(show_state "$CDIR/win/$f") | head -10 >&2
        fi ;;
      *)
        cmp -s "$CDIR/lin/$f" "$CDIR/win/$f" || problems="$problems $f differs;" ;;
    esac
  done
  [ -z "$problems" ] || { echo "$problems"; return 1; }
}

# compare [DESCRIPTION]: the two runs agree in output, exit code and files.
# Returns 1 after reporting a failure.
compare() {
  local problems=""
  [ "$LRC" = "$WRC" ] || problems="exit code Linux $LRC, Windows $WRC; "
  bare_lf "$CDIR/win.raw" && problems="${problems}Windows stdout has LF without CR (not text mode); "
  if ! cmp -s "$CDIR/lin.txt" "$CDIR/win.txt"; then
    problems="${problems}stdout differs; "
    diff "$CDIR/lin.txt" "$CDIR/win.txt" | cut -c1-160 | head -20
    [ -s "$CDIR/win.err" ] && { echo "Windows stderr:"; head -5 "$CDIR/win.err"; }
  fi
  local files
  files=$(same_files 2>&1) || problems="$problems$files"
  if [ -n "$problems" ]; then
    fail "${1:+$1: }$problems"
    return 1
  fi
  return 0
}

# expect_rc CODE: both builds ended with this exit code (the Linux one is
# known to agree once compare has passed).
expect_rc() {
  [ "$LRC" = "$1" ] && return 0
  fail "exit code $LRC, expected $1; output: $(echo "$LOUT" | tail -3)"
  return 1
}

# expect_text TEXT: the output holds this line fragment.
expect_text() {
  grep -qF -- "$1" "$CDIR/lin.txt" && return 0
  fail "output lacks \"$1\": $(echo "$LOUT" | tail -3)"
  return 1
}

# A command line that is still the placeholder prints nothing but the banner.
CLI_LANDED=1
if ! "$LIN_CLI" -h 2>/dev/null | grep -q '^Usage: '; then
  CLI_LANDED=0
fi
need_cli() {
  [ $CLI_LANDED = 1 ] && return 0
  skip "the command line has not landed in this build (-h prints no usage)"
  return 1
}

need_example() {
  [ -f "$EXAMPLES/$1" ] && return 0
  skip "examples/$1 is not in this tree"
  return 1
}

# run_sims ARGS...: runs both simulator programs on their folders.
run_sims() {
  local -a lenv=(env) wenv=(env)
  run_programs "$LIN_SIM" "$WIN_SIM" "$@"
}

# The Linux build's answer decides whether a case can run: a feature that is
# not built yet is skipped, not failed.
landed() {
  local missing
  missing=$(missing_feature)
  [ -z "$missing" ] && return 0
  skip "not in this build:$missing"
  return 1
}

# Input files with the bytes that text mode would change: CR LF pairs, lone
# LF and CR, Ctrl-Z (end of file for a text-mode read on Windows) and NUL.
make_awkward_bytes() {  # make_awkward_bytes COUNT FILE
  local i out=""
  for ((i = 0; i < $1; i++)); do
    case $((i % 8)) in
      0) out+='\x0d\x0a' ;; 1) out+='\x1a' ;; 2) out+='\x0a' ;; 3) out+='\x0d' ;;
      4) out+='\x00' ;; 5) out+='\xff' ;; *) out+=$(printf '\\x%02x' $(((i * 37 + 11) % 256))) ;;
    esac
  done
  printf "$out" | head -c "$1" >"$2"
}
to_crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }

# --- The executable itself ----------------------------------------------------

new_case executable-static
OBJDUMP=$(command -v x86_64-w64-mingw32-objdump || true)
if [ -z "$OBJDUMP" ]; then
  skip "x86_64-w64-mingw32-objdump is not installed"
else
  dlls=$("$OBJDUMP" -p "$WIN_CLI" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  foreign=$(echo "$dlls" | grep -E 'libstdc|libgcc|libwinpthread|^lib' || true)
  if [ -n "$foreign" ]; then
    fail "needs MinGW runtime DLLs: $(echo $foreign)"
  else
    pass "imports only system DLLs: $(echo $dlls)"
  fi
fi

new_case version-resource
# VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version 1.0, then file
# and product version 1.0.9.0, each as two little-endian 32-bit halves.
od -An -v -tx1 "$WIN_CLI" | tr -d ' \n' >"$CDIR/exe.hex"
v_ms=00000100 v_ls=00000900
fixed="bd04effe00000100${v_ms}${v_ls}${v_ms}${v_ls}"
utf16() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n' | sed 's/../&00/g'; }
if ! grep -qF "$fixed" "$CDIR/exe.hex"; then
  fail "no VS_FIXEDFILEINFO with file and product version 1.0.9.0"
elif ! grep -qE "$(utf16 FileVersion)(00)+$(utf16 1.0.9.0)" "$CDIR/exe.hex"; then
  fail "no FileVersion string 1.0.9.0"
elif ! grep -qE "$(utf16 ProductVersion)(00)+$(utf16 1.0.9.0)" "$CDIR/exe.hex"; then
  fail "no ProductVersion string 1.0.9.0"
else
  pass "version 1.0.9.0 in the fixed part and the strings"
fi
rm -f "$CDIR/exe.hex"

# --- Usage and parameter errors -----------------------------------------------

for opt in -h -H; do
  new_case "usage$opt"
  need_cli || continue
  run_both "$opt"
  compare && expect_rc 0 && expect_text "Usage: PROGRAM " && pass
done

# ARGS|EXPECTED EXIT CODE (255 is -1 as the shell sees it)
while IFS='|' read -r args code; do
  new_case "parameter-error[${args:-no arguments}]"
  need_cli || continue
  # shellcheck disable=SC2086  # the arguments are words
  run_both $args
  compare && expect_rc "$code" && expect_text "Parameter Error (use -h for help)" && pass
done <<'CASES'
|255
-Q|3
-w|3
-w -r -i a.ini|3
-R 10 -v 5|3
-W 10|3
-l 100FD|3
-z out.bin -i a.ini|3
-w -i missing.ini|3
-N -m 300 -w -i a.ini|3
CASES

# --- The real control device: absent under Wine -------------------------------

for args in "-r" "-R 0" "-G v"; do
  new_case "device-not-found[$args]"
  need_cli || continue
  # shellcheck disable=SC2086
  run_both $args
  compare && expect_rc 1 && expect_text "ERROR: CreateFile failed!  Device Not Found" && pass
done

# --- Image generation without a device ------------------------------------------

for model in ORN5300 ORN5350; do
  ini=$(echo "$model" | tr 'A-Z' 'a-z').ini
  for form in lf crlf; do
    new_case "image-$model-$form"
    need_cli && need_example "$ini" || continue
    if [ $form = lf ]; then put "$EXAMPLES/$ini" station.ini; else
      to_crlf "$EXAMPLES/$ini" "$CDIR/station.crlf"; put "$CDIR/station.crlf" station.ini
    fi
    run_both -i station.ini -z image.bin -d "$model"
    landed || continue
    compare && expect_rc 0 || continue
    if [ ! -s "$CDIR/lin/image.bin" ]; then fail "no image.bin written"; else pass "$(wc -c <"$CDIR/lin/image.bin") bytes, same on both"; fi
  done
done

# A target that exists already is replaced (a rename over an existing file
# needs its own call on Windows).
new_case image-replaces-existing-file
if need_cli && need_example orn5300.ini; then
  put "$EXAMPLES/orn5300.ini" station.ini
  make_awkward_bytes 700 "$CDIR/old.bin"
  put "$CDIR/old.bin" image.bin
  run_both -i station.ini -z image.bin -d ORN5300
  if landed && compare && expect_rc 0; then
    if cmp -s "$CDIR/lin/image.bin" "$CDIR/old.bin"; then fail "image.bin was not replaced"; else pass; fi
  fi
fi

# --- Against the simulated controller -------------------------------------------

for form in lf crlf; do
  new_case "eeprom-write-N-$form"
  need_cli && need_example orn5300.ini || continue
  state_init
  if [ $form = lf ]; then cp "$EXAMPLES/orn5300.ini" "$CDIR/station.orig"; else
    to_crlf "$EXAMPLES/orn5300.ini" "$CDIR/station.orig"
  fi
  put "$CDIR/station.orig" station.ini
  run_both --sim -w -i station.ini -N
  landed || continue
  compare && expect_rc 0 || continue
  if cmp -s "$CDIR/lin/station.ini" "$CDIR/station.orig"; then
    fail "the INI file was not stepped"
  else
    pass "EEPROM, stepped INI file and trace equal"
  fi
done

new_case otp-write
if need_cli && need_example orn5300.ini; then
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  run_both --sim -O -w -i station.ini -C YES
  landed && compare && expect_rc 0 && pass "OTP and trace equal"
fi

new_case eeprom-read
if need_cli; then
  state_init
  make_awkward_bytes 512 "$CDIR/eeprom.bin"
  state_set eeprom "$(od -An -v -tx1 "$CDIR/eeprom.bin" | tr -d '\n')"
  run_both --sim -r
  if landed && compare && expect_rc 0; then
    if cmp -s "$CDIR/lin/orn5300-512.bin" "$CDIR/eeprom.bin"; then pass "orn5300-512.bin holds the EEPROM on both"
    else fail "orn5300-512.bin is not the EEPROM's contents"; fi
  fi
fi

new_case otp-read
if need_cli; then
  state_init
  run_both --sim -O -r
  landed && compare && pass
fi

for letter in e v; do
  new_case "information-G-$letter"
  need_cli || continue
  state_init
  state_set eth_stats "[$(seq -s, 1000 1046)]"
  run_both --sim -G "$letter"
  landed && compare && expect_rc 0 && pass
done

new_case firmware-F
if need_cli; then
  state_init
  make_awkward_bytes 300 "$CDIR/fw.bin"
  put "$CDIR/fw.bin"
  run_both --sim -F fw.bin
  if landed && compare && expect_rc 0; then
    expect_text "COMPLETED!" && pass "download and verify of 300 bytes, MCU memory equal"
  fi
fi

# A read followed by the ping stage: the link check and the search for the
# controller's adapter among the host's adapters (IP Helper on Windows) fail
# alike on both hosts, with their waits slept in virtual time.
new_case ping-without-adapter
if need_cli; then
  state_init
  run_both --sim -r -p 192.0.2.1
  landed && compare && expect_rc 7 && pass
fi

# --- The simulator program --------------------------------------------------------

new_case orn5300sim
ok=1
for step in "init s.json --chip ORN5350 --eeprom-size 256" "set s.json adapter_port 7" "set s.json eeprom A50A0D1A" \
            "show s.json" "show s.json eeprom" "show s.json mcu" "show missing.json"; do
  # shellcheck disable=SC2086
  run_sims $step
  if ! compare "orn5300sim $step"; then ok=0; break; fi
done
[ $ok = 1 ] && pass "init, set and show agree"

echo
echo "$PASSED passed, $FAILED failed, $SKIPPED skipped"
[ "$FAILED" -eq 0 ]
