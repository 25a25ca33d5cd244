#!/usr/bin/env bash
# Runs the Windows executables under Wine, headless, and checks that they
# behave exactly like the Linux build: for every case both builds run on
# their own fresh copy of the same inputs, and their standard output (CR LF
# read as LF), exit codes, written files and simulator state must agree.
# Every run that reaches a simulated controller is made twice on Windows:
# through ORN5300_SIM, and through the real CreateFile and DeviceIoControl
# path to a test driver that answers from the simulator (wine_harness.sh
# says how the paths are compared; tests/windows/driver/ holds the driver).
#
# Usage: run_wine_tests.sh [LINUX_BUILD_DIR] [WINDOWS_BUILD_DIR]
#   defaults: build and build-windows beside this repository's top folder.
# Environment:
#   WINE              the Wine loader (default: wine64 on PATH, /usr/lib/wine/wine64, wine)
#   ORN_WINE_PREFIX   set up this Wine prefix and copy it for the lanes,
#                     instead of a fresh private one
#   ORN_WINE_LANES    number of lanes that run cases side by side (default 3)
#   ORN_WINE_DRIVER=0 leave out the driver path (ORN5300_SIM only)
#   ORN_WINE_KEEP=1   keep the work folder for inspection
#   TMPDIR            where the work folder goes (default /dev/shm when it
#                     has 2 GiB free, else /tmp)
#
# Adding a case: write a function that uses the helpers of wine_harness.sh
# (new inputs with put, state_init and state_set; run_both --sim ARGS to run
# the tool on every path; compare, expect_rc and expect_text; one verdict with
# pass, fail or skip) and register it with add_case NAME FUNCTION [ARGS].
# A case that runs with --sim goes through the driver too without more ado;
# run_both --sim-only keeps a run on ORN5300_SIM (for what a driver cannot
# show), add_case --long starts a case that sleeps for real early, and
# add_case --no-driver runs it while its lane's driver is unloaded. all_env
# and path_env give the runs environment variables (ORN5300_LOG, ORN5300_DB).
# A case that needs another program on the station between the paths' runs
# takes them one by one (run_linux, run_path win|drv) and starts the helper
# tests/windows/tools/hold_file.c with holder_start before each. Cases run
# side by side in lanes, each in its own folder: a case may use any file
# names, but programs it starts itself at the same time share its lane's one
# driver, which serves their sessions one after the other.
#
# The line database's cases share one throwaway PostgreSQL server
# (tools/pg_server.sh), a database per path of each case.
#
# Cases whose feature is missing from the build are reported as skipped with
# the reason. Ends with "N passed, N failed, N skipped" and how many cases
# ran through ORN5300_SIM and through the driver; the exit code is 1 when
# anything failed, 77 when Wine is not available.
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
LIN_DIR=$(cd "${1:-$ROOT/build}" 2>/dev/null && pwd) || { echo "no Linux build folder: ${1:-$ROOT/build}"; exit 1; }
WIN_DIR=$(cd "${2:-$ROOT/build-windows}" 2>/dev/null && pwd) || { echo "no Windows build folder: ${2:-$ROOT/build-windows}"; exit 1; }
LIN_CLI=$LIN_DIR/orn5300cli
LIN_SIM=$LIN_DIR/orn5300sim
WIN_CLI=$WIN_DIR/orn5300cli.exe
WIN_SIM=$WIN_DIR/orn5300sim.exe
LIN_DB=$LIN_DIR/orn5300db
WIN_DB=$WIN_DIR/orn5300db.exe
DRIVER_SYS=$WIN_DIR/test-driver/orn5300test.sys
BRIDGE_DLL=$WIN_DIR/test-driver/orn5300bridge.dll
HOLD_FILE=$WIN_DIR/test-tools/hold_file.exe
EXAMPLES=$ROOT/examples
for f in "$LIN_CLI" "$LIN_SIM" "$LIN_DB" "$WIN_CLI" "$WIN_SIM" "$WIN_DB" "$DRIVER_SYS" "$BRIDGE_DLL" "$HOLD_FILE"; do
  [ -f "$f" ] || { echo "missing $f (run make build and make windows first)"; exit 1; }
done

# shellcheck source=tests/windows/wine_harness.sh
. "$ROOT/tests/windows/wine_harness.sh"

WINE=$(find_wine)
if [ -z "$WINE" ]; then
  echo "SKIP all: Wine is not installed (Debian package wine64)"
  exit 77
fi
WINESERVER=$(dirname "$WINE")/wineserver
[ -x "$WINESERVER" ] || WINESERVER=$(command -v wineserver 2>/dev/null || true)
[ -n "$WINESERVER" ] || { echo "wineserver not found beside $WINE"; exit 1; }

# The work folder: in memory (/dev/shm) when it has room for the prefix and
# allows running code from it (Wine maps the prefix's DLLs), which makes
# setting it up and removing it quick on a busy disk.
work_root() {
  if [ -n "${TMPDIR:-}" ]; then echo "$TMPDIR"; return; fi
  local free options
  free=$(df -Pk /dev/shm 2>/dev/null | awk 'NR == 2 {print $4}')
  options=$(findmnt -no OPTIONS /dev/shm 2>/dev/null)
  if [ -w /dev/shm ] && [ "${free:-0}" -gt $((2 * 1024 * 1024)) ] && [ -n "$options" ] &&
     [[ ,$options, != *,noexec,* ]]; then
    echo /dev/shm
  else
    echo /tmp
  fi
}
placeholder=$(printf 'X%.0s' 1 2 3 4 5 6)  # the six characters mktemp replaces
WORK=$(mktemp -d "$(work_root)/orn-wine.$placeholder")
TEMPLATE=${ORN_WINE_PREFIX:-$WORK/template}
PG_STATE=$WORK/pg

cleanup() {
  [ -f "$PG_STATE/home" ] && "$ROOT/tools/pg_server.sh" stop "$PG_STATE" >/dev/null 2>&1
  stop_prefixes
  if [ "${ORN_WINE_KEEP:-0}" = 1 ]; then echo "work folder kept: $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

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

# --- The executables themselves ------------------------------------------------

OBJDUMP=$(command -v x86_64-w64-mingw32-objdump || true)
imported_dlls() {
  "$OBJDUMP" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u
}

case_executable_static() {
  [ -n "$OBJDUMP" ] || { skip "x86_64-w64-mingw32-objdump is not installed"; return; }
  local dlls foreign
  dlls=$(imported_dlls "$WIN_CLI")
  foreign=$(echo "$dlls" | grep -E 'libstdc|libgcc|libwinpthread|^lib' || true)
  if [ -n "$foreign" ]; then fail "needs MinGW runtime DLLs: $(echo $foreign)"; else pass "imports only system DLLs: $(echo $dlls)"; fi
}
add_case executable-static case_executable_static

# Wine takes an image that imports ntdll.dll or kernel32.dll for an ordinary
# DLL, not a driver; the bridge must need no MinGW runtime DLLs either.
case_driver_imports() {
  [ -n "$OBJDUMP" ] || { skip "x86_64-w64-mingw32-objdump is not installed"; return; }
  local sys bridge
  sys=$(imported_dlls "$DRIVER_SYS" | tr '\n' ' ')
  bridge=$(imported_dlls "$BRIDGE_DLL" | grep -E '^lib' || true)
  if [ "$sys" != "ntoskrnl.exe orn5300bridge.dll " ]; then fail "the driver imports: $sys"
  elif ! "$OBJDUMP" -p "$DRIVER_SYS" | grep -q 'Subsystem.*(NT native)'; then fail "the driver is not a native image"
  elif [ -n "$bridge" ]; then fail "the bridge needs MinGW runtime DLLs: $(echo $bridge)"
  else pass "driver imports ntoskrnl.exe and the bridge only"; fi
}
add_case driver-imports case_driver_imports

case_version_resource() {
  # VS_FIXEDFILEINFO: signature 0xFEEF04BD, structure version 1.0, then file
  # and product version 1.0.9.0, each as two little-endian 32-bit halves.
  od -An -v -tx1 "$WIN_CLI" | tr -d ' \n' >"$CDIR/exe.hex"
  local v_ms=00000100 v_ls=00000900
  local fixed="bd04effe00000100${v_ms}${v_ls}${v_ms}${v_ls}"
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
}
add_case version-resource case_version_resource

# --- Usage and parameter errors -----------------------------------------------

case_usage() {  # OPTION
  need_cli || return
  run_both "$1"
  compare && expect_rc 0 && expect_text "Usage: PROGRAM " && pass
}
for opt in -h -H; do add_case "usage$opt" case_usage "$opt"; done

case_parameter_error() {  # "ARGS" CODE
  need_cli || return
  # shellcheck disable=SC2086  # the arguments are words
  run_both $1
  compare && expect_rc "$2" && expect_text "Parameter Error (use -h for help)" && pass
}
# ARGS|EXPECTED EXIT CODE (255 is -1 as the shell sees it)
while IFS='|' read -r args code; do
  add_case "parameter-error[${args:-no arguments}]" case_parameter_error "$args" "$code"
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

# --- The real control device without its driver ---------------------------------

case_device_not_found() {  # "ARGS"
  need_cli || return
  # shellcheck disable=SC2086
  run_both $1
  compare && expect_rc 1 && expect_text "ERROR: CreateFile failed!  Device Not Found" && pass
}
for args in "-r" "-R 0" "-G v"; do add_case --no-driver "device-not-found[$args]" case_device_not_found "$args"; done

# The same run with the driver loaded, unloaded and loaded again: the open
# fails with error 2 only while the driver is away.
case_driver_not_loaded() {
  need_cli || return
  state_init
  run_both --sim -R 0
  compare && expect_rc 0 && expect_text "Register 0x0 : 0x53000000" || return
  lane_driver stop >&2 || { fail "the driver could not be unloaded"; return; }
  run_driver -R 0
  if [ "$DRC" != 1 ] || ! grep -qF "ERROR: CreateFile failed!  Device Not Found" "$CDIR/drv.txt"; then
    fail "without the driver: exit code $DRC, output $(tail -2 "$CDIR/drv.txt")"
    return
  fi
  lane_driver start >&2 || { fail "the driver could not be loaded again"; return; }
  run_driver -R 0
  if [ "$DRC" = 0 ] && grep -qF "Register 0x0 : 0x53000000" "$CDIR/drv.txt"; then
    pass "found, not found after unloading (exit code 1), found after loading again"
  else
    fail "after loading again: exit code $DRC, output $(tail -2 "$CDIR/drv.txt")"
  fi
}
add_case driver-not-loaded case_driver_not_loaded

# --- Image generation without a device ------------------------------------------

case_image() {  # MODEL lf|crlf
  local model=$1 form=$2 ini
  ini=$(echo "$model" | tr 'A-Z' 'a-z').ini
  need_cli && need_example "$ini" || return
  if [ "$form" = lf ]; then put "$EXAMPLES/$ini" station.ini; else
    to_crlf "$EXAMPLES/$ini" "$CDIR/station.crlf"; put "$CDIR/station.crlf" station.ini
  fi
  run_both -i station.ini -z image.bin -d "$model"
  landed || return
  compare && expect_rc 0 || return
  if [ ! -s "$CDIR/lin/image.bin" ]; then fail "no image.bin written"; else pass "$(wc -c <"$CDIR/lin/image.bin") bytes, same on both"; fi
}
for model in ORN5300 ORN5350; do
  for form in lf crlf; do add_case "image-$model-$form" case_image "$model" "$form"; done
done

# A target that exists already is replaced (a rename over an existing file
# needs its own call on Windows).
case_image_replaces_existing_file() {
  need_cli && need_example orn5300.ini || return
  put "$EXAMPLES/orn5300.ini" station.ini
  make_awkward_bytes 700 "$CDIR/old.bin"
  put "$CDIR/old.bin" image.bin
  run_both -i station.ini -z image.bin -d ORN5300
  if landed && compare && expect_rc 0; then
    if cmp -s "$CDIR/lin/image.bin" "$CDIR/old.bin"; then fail "image.bin was not replaced"; else pass; fi
  fi
}
add_case image-replaces-existing-file case_image_replaces_existing_file

# --- Against the simulated controller: ORN5300_SIM and the driver ----------------

case_eeprom_write_N() {  # lf|crlf
  need_cli && need_example orn5300.ini || return
  state_init
  if [ "$1" = lf ]; then cp "$EXAMPLES/orn5300.ini" "$CDIR/station.orig"; else
    to_crlf "$EXAMPLES/orn5300.ini" "$CDIR/station.orig"
  fi
  put "$CDIR/station.orig" station.ini
  run_both --sim -w -i station.ini -N
  landed || return
  compare && expect_rc 0 || return
  if cmp -s "$CDIR/lin/station.ini" "$CDIR/station.orig"; then
    fail "the INI file was not stepped"
  else
    pass "EEPROM, stepped INI file and trace equal"
  fi
}
for form in lf crlf; do add_case "eeprom-write-N-$form" case_eeprom_write_N "$form"; done

case_otp_write() {
  need_cli && need_example orn5300.ini || return
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  run_both --sim -O -w -i station.ini -C YES
  landed && compare && expect_rc 0 && pass "OTP and trace equal"
}
add_case otp-write case_otp_write

case_eeprom_read() {
  need_cli || return
  state_init
  make_awkward_bytes 512 "$CDIR/eeprom.bin"
  state_set eeprom "$(od -An -v -tx1 "$CDIR/eeprom.bin" | tr -d '\n')"
  run_both --sim -r
  if landed && compare && expect_rc 0; then
    if cmp -s "$CDIR/lin/orn5300-512.bin" "$CDIR/eeprom.bin"; then pass "orn5300-512.bin holds the EEPROM on every path"
    else fail "orn5300-512.bin is not the EEPROM's contents"; fi
  fi
}
add_case eeprom-read case_eeprom_read

case_otp_read() {
  need_cli || return
  state_init
  run_both --sim -O -r
  landed && compare && pass
}
add_case otp-read case_otp_read

# Every information query; the statistics and texts are set so that a
# counter or character in the wrong place shows.
case_information() {  # LETTER
  need_cli || return
  state_init
  state_set eth_stats "[$(seq -s, 1000 1046)]"
  state_set usb_phy_stats "[$(seq -s, 70001 70016)]"
  state_set adapter_bits '[305419896, 2271560481, 4294967295]'
  state_set adapter_location 'Bus 3, Gerät 7, Funktion 0 ✓'
  state_set adapter_port 11
  run_both --sim -G "$1"
  landed && compare && expect_rc 0 && pass
}
for letter in v i b l k p o e u; do add_case "information-G-$letter" case_information "$letter"; done

# Register and PHY commands, with 16-bit and 32-bit PHY indexes (WRITE_PHY
# sends 18 or 20 bytes).
case_register_phy() {  # "ARGS"
  need_cli || return
  state_init
  state_set registers '{"0x10": "0xCAFEF00D"}'
  state_set phy '{"1": "0x796D", "0x80000001": "0x12345678", "0x20000002": ["0x1", "0x2"]}'
  # shellcheck disable=SC2086
  run_both --sim $1
  landed && compare && expect_rc 0 && pass
}
for args in "-R 10" "-W 14 -v 5A5A" "-y 1" "-y 80000001" "-Y 4 -v 1E1" "-Y 20000002 -v 89ABCDEF"; do
  add_case "register-phy[$args]" case_register_phy "$args"
done

# Link mode (waits 2 s for real on the driver path), link state and cable
# diagnostics.
case_link() {  # "ARGS"
  need_cli || return
  state_init
  state_set cabscan '[4660, 22136, 39612]'
  # shellcheck disable=SC2086
  run_both --sim $1
  landed && compare && expect_rc 0 && pass
}
add_case --long "link[-l 100fd]" case_link "-l 100fd"
for args in "-k d" "-V"; do add_case "link[$args]" case_link "$args"; done

# Adapter selection: the signature and index travel in the block header.
case_adapter() {  # "ARGS" EXPECTED-TEXT
  need_cli || return
  state_init
  state_set adapters 2
  # shellcheck disable=SC2086
  run_both --sim $1
  landed && compare && expect_text "$2" && pass
}
add_case "adapter[-X 1 -G v]" case_adapter "-X 1 -G v" "Driver Major Version 1"
add_case "adapter[-X 2 -R 0]" case_adapter "-X 2 -R 0" "READ_REGISTER failed !    status:Access failed"

# Fault rules: a failed device-control call carries its error number through
# the driver's status (0xC007xxxx), a status and a corrupted reply through the
# block.
case_fault() {  # "ARGS" FAULTS EXPECTED-TEXT
  need_cli && need_example orn5300.ini || return
  state_init
  state_set faults "$2"
  put "$EXAMPLES/orn5300.ini" station.ini
  # shellcheck disable=SC2086
  run_both --sim $1
  landed && compare && expect_text "$3" && pass
}
while IFS='|' read -r args faults text; do
  add_case "fault[$args: $faults]" case_fault "$args" "$faults" "$text"
done <<'CASES'
-y 1|[{"op":"READ_PHY","ioctl_error":31}]|Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31
-R 0|[{"op":"READ_REGISTER","nth":1,"ioctl_error":1167}]|Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 1167
-G p|[{"op":"GET_ADAPTER_PORT","status":7}]|GET_DRIVER_VERSION failed!    status:Adapter Busy
-r|[{"op":"E2P_READ_BLOCK","corrupt":5}]|Saved Eeprom to the file orn5300-512.bin
-w -i station.ini|[{"op":"E2P_WRITE_BLOCK","status":2}]|E2P_WRITE_BLOCK failed!    status:Adapter Busy
CASES

case_firmware_F() {
  need_cli || return
  state_init
  make_awkward_bytes 300 "$CDIR/fw.bin"
  put "$CDIR/fw.bin"
  run_both --sim -F fw.bin
  if landed && compare && expect_rc 0; then
    expect_text "COMPLETED!" && pass "download and verify of 300 bytes, MCU memory equal"
  fi
}
add_case firmware-F case_firmware_F

# A read followed by the ping stage: the link check and the search for the
# controller's adapter among the host's adapters (IP Helper on Windows) fail
# alike on both hosts, with their waits slept in virtual time (for real, 20 s,
# on the driver path).
case_ping_without_adapter() {
  need_cli || return
  state_init
  run_both --sim -r -p 192.0.2.1
  landed && compare && expect_rc 7 && pass
}
add_case --long ping-without-adapter case_ping_without_adapter

# A state file that is not valid JSON fails the open with error 13: the
# simulator's own open, which a driver cannot report (Wine does not wait for
# a driver's answer to a create), so this stays on the ORN5300_SIM path.
case_state_invalid() {
  need_cli || return
  printf '{"chip_id": ' >"$CDIR/bad.json"
  put "$CDIR/bad.json" state.json
  run_both --sim-only -R 0
  compare && expect_rc 1 && expect_text "CreateFile failed!  errNum = 13" && pass "simulator only"
}
add_case state-invalid case_state_invalid

# --- Only through the driver ----------------------------------------------------

# A reply cut short by the driver: only the bytes it reports come back into
# the tool's block, and READ_PHY then takes a 16-bit value (18 bytes).
case_short_reply() {
  need_cli || return
  state_init
  state_set phy '{"0x80000001": "0x12345678"}'
  run_both --sim -y 80000001
  compare && expect_rc 0 && expect_text "PHY Register 0x80000001 : 0x12345678" || return
  driver_settings ShortReplyOp=dword:0000000a ShortReplyBytes=dword:00000012
  run_driver -y 80000001
  if [ "$DRC" = 0 ] && grep -qF "PHY Register 0x80000001 : 0x5678" "$CDIR/drv.txt"; then
    pass "the 32-bit reply cut to 18 bytes reads as its low 16 bits"
  else
    fail "cut to 18 bytes: exit code $DRC, output $(tail -1 "$CDIR/drv.txt")"
  fi
}
add_case short-reply case_short_reply

# Two runs at once through one driver: the first holds the device for over
# two seconds (the link-mode wait, slept for real), the second opens it
# meanwhile. The bridge serves the second session only after the first has
# closed, without holding up the driver, and both changes land in the one
# state file.
case_two_runs_at_once() {
  need_cli || return
  state_init
  local log=$LANE/drive_c/orn5300-driver/bridge.log before first second rc1 rc2
  ln -sfn "$CDIR/drv" "$LANE/drive_c/orn5300"
  before=$(wc -l <"$log")
  (cd "$CDIR/drv" && timeout 120 "$WINE" "$WIN_CLI" -l 100fd </dev/null >"$CDIR/first.raw" 2>/dev/null) &
  first=$!
  sleep 0.5
  (cd "$CDIR/drv" && timeout 120 "$WINE" "$WIN_CLI" -W 20 -v 2222 </dev/null >"$CDIR/second.raw" 2>/dev/null) &
  second=$!
  wait $first; rc1=$?
  wait $second; rc2=$?
  driver_settle "$log" "$before" || { fail "the driver did not close the sessions"; return; }
  note_path driver
  tail -n +$((before + 1)) "$log" >"$CDIR/drv.run.log"
  # Every line of a session lies between its open and its close.
  local overlap
  overlap=$(awk '/^open /{if (cur != "") bad = 1; cur = $2} /^control /{if ($2 != cur) bad = 1}
                 /^close /{if ($2 != cur) bad = 1; cur = ""} END{print bad + 0}' "$CDIR/drv.run.log")
  if [ "$rc1" != 0 ] || [ "$rc2" != 0 ]; then fail "exit codes $rc1 and $rc2"
  elif ! grep -q "Link mode: 100 FD" "$CDIR/first.raw" || ! grep -q "Register 0x20 : 0x2222" "$CDIR/second.raw"; then
    fail "outputs: $(tail -1 "$CDIR/first.raw") / $(tail -1 "$CDIR/second.raw")"
  elif [ "$overlap" != 0 ] || [ "$(grep -c '^open ' "$CDIR/drv.run.log")" != 2 ]; then
    fail "sessions overlap: $(cut -d' ' -f1-2 "$CDIR/drv.run.log" | uniq | tr '\n' ';')"
  elif ! grep -q '^open .* waited=1' "$CDIR/drv.run.log"; then
    fail "the second run did not open the device while the first had it"
  elif ! show_state "$CDIR/drv/state.json" | grep -q '^link_mode *4' ||
       ! show_state "$CDIR/drv/state.json" | grep -q '0x00000020 = 0x00002222'; then
    fail "the state lacks a change: $(show_state "$CDIR/drv/state.json" | grep -E -A2 '^(link_mode|registers)')"
  else
    pass "the second session waited for the first, both changes kept"
  fi
}
add_case --long two-runs-at-once case_two_runs_at_once

# --- Shared files and the production record ----------------------------------------

LOG_HEADER=time_utc,host,adapter,chip_model,chip_id,memory,source_file,image_sha256,mac,serial,bytes_written,verify,exit_code,error,rework,tool_version

# A record of station st1 that programmed MAC SERIAL.
log_record() {
  printf '2026-01-02T03:04:05Z,st1,0,ORN5300,0x53000000,EEPROM,station.ini,,%s,%s,512,passed,0,,no,1.0.9.0' "$1" "$2"
}

# guard_log KIND FILE: a production log as other programs leave it.
guard_log() {
  local r
  r=$(log_record 00:80:0F:53:00:01 000000000001)
  case $1 in
    lf-only) printf '%s\n%s\n' "$LOG_HEADER" "$r" ;;
    byte-order-mark) printf '\xef\xbb\xbf%s\r\n%s\r\n' "$LOG_HEADER" "$r" ;;
    notes-column) printf '%s,notes\r\n%s,checked\r\n' "$LOG_HEADER" "$r" ;;
    semicolons) printf '%s\r\n%s\r\n' "${LOG_HEADER//,/;}" "${r//,/;}" ;;
    serial-lower-case) printf '%s\r\n%s\r\n' "$LOG_HEADER" "$(log_record 00:80:0F:53:00:99 ab01)" ;;
    *) return 1 ;;
  esac >"$2"
}

# The duplicate guard on logs that other programs wrote, and a source file
# name that a spreadsheet would take for a formula: the same refusals, output
# and log bytes (time and host columns aside) on every path; a refused run
# never reaches the device.
case_guard() {  # LOG-KIND SERIAL/MAXIMUM SOURCE CODE TEXT LOG-FRAGMENT
  need_cli && need_example orn5300.ini || return
  state_init
  local ini=$EXAMPLES/orn5300.ini f
  if [ "$2" != - ]; then
    sed -e "s/^CurrentSerialNumber = .*/CurrentSerialNumber = ${2%/*}/" \
        -e "s/^MaximumSerialNumber = .*/MaximumSerialNumber = ${2#*/}/" "$ini" >"$CDIR/station.ini"
    ini=$CDIR/station.ini
  fi
  put "$ini" "$3"
  if guard_log "$1" "$CDIR/log.orig"; then put "$CDIR/log.orig" log.csv; fi
  all_env ORN5300_LOG=log.csv
  run_both --sim -w -i "$3"
  local kept=1
  cmp -s "$CDIR/lin/log.csv" "$CDIR/log.orig" || kept=0
  for f in lin win drv; do normalise_log "$CDIR/$f/log.csv"; done
  compare && expect_rc "$4" && expect_text "$5" || return
  if [ "$6" != - ] && ! grep -qF -- "$6" "$CDIR/lin/log.csv"; then
    fail "the log lacks \"$6\": $(tail -1 "$CDIR/lin/log.csv")"
  elif [ "$4" != 0 ] && [ -e "$CDIR/lin/trace.jsonl" ]; then
    fail "the refused run reached the device"
  elif [ "$4" = 3 ] && [ $kept = 0 ]; then
    fail "the log it refused was changed"
  else
    pass
  fi
}
# LOG (formula-file-name: none yet)|INI SERIAL/MAXIMUM|SOURCE|EXIT CODE|OUTPUT|THE LOG THEN HOLDS
while IFS='|' read -r log serial source code text fragment; do
  add_case "guard[$log]" case_guard "$log" "$serial" "$source" "$code" "$text" "$fragment"
done <<'CASES'
lf-only|-|station.ini|10|ERROR: MAC address 00:80:0F:53:00:01 was already programmed (line 2 of the log|,not run,10,
byte-order-mark|-|station.ini|10|ERROR: MAC address 00:80:0F:53:00:01 was already programmed (line 2 of the log|,not run,10,
notes-column|-|station.ini|3|does not start with the header line this tool writes (line 1)|-
semicolons|-|station.ini|3|does not start with the header line this tool writes (line 1)|-
serial-lower-case|AB01/FFFF|station.ini|10|ERROR: Serial number AB01 was already programmed (line 2 of the log|,AB01,0,not run,10,
formula-file-name|-|=x.ini|0|The current device EEPROM was programmed with 276 bytes|,EEPROM,'=x.ini,
CASES

# Another program holds the INI file open without delete sharing while a
# station steps it: for a moment (1.5 s), the write-back waits for it and the
# run ends as the Linux one does; for longer than the write-back's 5 s of
# retries, the run ends with exit code 10, the INI file keeps its identity
# and the record names the file that could not be rewritten. Wine's
# ReplaceFile leaves an empty rf*.tmp beside the file at each attempt that
# meets the holder (Windows' does not); those are removed before comparing.
case_replace_held() {  # short|long
  need_cli && need_example orn5300.ini || return
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  all_env ORN5300_LOG=log.csv
  local p problems="" strays=0 n hold_ms=1500
  [ "$1" = long ] && hold_ms=60000
  [ "$1" = short ] && run_linux -w -i station.ini -N
  for p in $(windows_paths); do
    rm -f "$CDIR/$p.done"
    holder_start "$p" hold_file open station.ini "$hold_ms" "$(winepath_of "$CDIR/$p.ready")" \
      "$(winepath_of "$CDIR/$p.done")" || { fail "$HOLDER_OUT"; return; }
    run_path "$p" "$WIN_CLI" -w -i station.ini -N
    : >"$CDIR/$p.done"
    holder_end "$p"
    [ "$p" = win ] && WRC=$RC || DRC=$RC
    n=$(find "$CDIR/$p" -maxdepth 1 -name 'rf*.tmp' -size 0 | wc -l)
    strays=$((strays + n))
    find "$CDIR/$p" -maxdepth 1 -name 'rf*.tmp' -size 0 -delete
    [ "$HOLDER_RC" = 0 ] || problems="$problems$p holder: $HOLDER_OUT; "
    if [ "$1" = short ] && [ "$RUN_MS" -lt 1200 ]; then
      problems="$problems$p run took $RUN_MS ms: it did not meet the holder; "
    fi
    if [ "$1" = long ]; then
      grep -qxF "ERROR: The file station.ini could not be rewritten (error 32); it still holds the previous values" \
        "$CDIR/$p.txt" && grep -qxF "ERROR: Failed to update ini file" "$CDIR/$p.txt" ||
        problems="$problems$p output: $(tail -2 "$CDIR/$p.txt" | tr '\n' ' '); "
      [ "$RC" = 10 ] || problems="$problems$p exit code $RC, expected 10; "
      cmp -s "$CDIR/$p/station.ini" "$EXAMPLES/orn5300.ini" || problems="$problems$p INI file changed; "
      tail -1 "$CDIR/$p/log.csv" | grep -qF ",passed,10,The file station.ini could not be rewritten (error 32);" ||
        problems="$problems$p record: $(tail -1 "$CDIR/$p/log.csv"); "
      compgen -G "$CDIR/$p/station.ini.tmp-*" >/dev/null && problems="$problems$p left a temporary file; "
    fi
  done
  [ -z "$problems" ] || { fail "$problems"; return; }
  for p in lin win drv; do normalise_log "$CDIR/$p/log.csv"; done
  if [ "$1" = short ]; then
    compare && expect_rc 0 || return
    cmp -s "$CDIR/lin/station.ini" "$EXAMPLES/orn5300.ini" && { fail "the INI file was not stepped"; return; }
    pass "the write-back waited for the holder; $strays rf*.tmp left by Wine's ReplaceFile"
  elif [ "$DRIVER_RAN" = 1 ] && ! cmp -s "$CDIR/win/log.csv" "$CDIR/drv/log.csv"; then
    fail "the records through ORN5300_SIM and the driver differ"
  else
    pass "exit code 10 after 5 s of retries, INI file unchanged, the record names the file"
  fi
}
add_case --long "replace-held[1.5 s]" case_replace_held short
add_case --long "replace-held[past 5 s]" case_replace_held long

# An INI file with two names (hard links; CreateHardLinkA on Windows) is
# refused through either name before the device: exit code 10.
case_hard_links() {  # NAME
  need_cli && need_example orn5300.ini || return
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  ln "$CDIR/lin/station.ini" "$CDIR/lin/second.ini" || { fail "ln failed"; return; }
  local p out
  for p in win drv; do
    out=$(cd "$CDIR/$p" && hold_file link station.ini second.ini 2>&1) || { fail "CreateHardLinkA: $out"; return; }
  done
  run_both --sim -w -i "$1" -N
  compare && expect_rc 10 && expect_text "has 2 hard links" || return
  if ls "$CDIR"/*/trace.jsonl >/dev/null 2>&1; then fail "the refused run reached the device"
  elif ! cmp -s "$CDIR/win/$1" "$EXAMPLES/orn5300.ini"; then fail "the INI file changed"
  else pass "refused before the device"; fi
}
for name in station.ini second.ini; do add_case "hard-links[$name]" case_hard_links "$name"; done

# Lock by the file's identity: another station holds the INI file's lock
# (LockFileEx at 2^40) for 1.2 s and meanwhile puts another identity in it,
# in place or by replacing the file. The run waits without touching the
# device (the holder checks the trace before it lets go) and programs the
# identity the file holds then, as the Linux run on that file does.
case_lock_identity() {  # inplace|replace
  need_cli && need_example orn5300.ini || return
  state_init
  sed -e 's/^CurrentMacAddress = .*/CurrentMacAddress = 00:80:0F:53:00:40/' \
      -e 's/^CurrentSerialNumber = .*/CurrentSerialNumber = 000000000040/' "$EXAMPLES/orn5300.ini" >"$CDIR/next.ini"
  put "$EXAMPLES/orn5300.ini" station.ini
  cp "$CDIR/next.ini" "$CDIR/lin/station.ini"
  run_linux -w -i station.ini -N
  local p problems=""
  for p in $(windows_paths); do
    holder_start "$p" hold_file lock station.ini 1200 "$(winepath_of "$CDIR/$p.ready")" trace.jsonl \
      "$1" "$(winepath_of "$CDIR/next.ini")" || { fail "$HOLDER_OUT"; return; }
    run_path "$p" "$WIN_CLI" -w -i station.ini -N
    holder_end "$p"
    [ "$p" = win ] && WRC=$RC || DRC=$RC
    [ "$HOLDER_RC" = 0 ] || problems="$problems$p holder: $HOLDER_OUT; "
    [ "$RUN_MS" -ge 1000 ] || problems="$problems$p run took $RUN_MS ms: it did not wait for the lock; "
  done
  [ -z "$problems" ] || { fail "$problems"; return; }
  compare && expect_rc 0 && expect_text "Updated ini file" || return
  grep -q '^CurrentMacAddress = 00:80:0F:53:00:41' "$CDIR/win/station.ini" &&
    pass "waited, then programmed 00:80:0F:53:00:40 from the changed file" || fail "the INI file was not stepped from the holder's identity"
}
for how in inplace replace; do add_case --long "lock-identity[$how]" case_lock_identity "$how"; done

# Stopped from the console after it wrote the device, in the link stage
# (which waits for real: virtual_time false): the run's record follows its
# start line, with exit code 130 and the verify that passed. Wine 8 delivers
# CTRL_C_EVENT to a console's processes but refuses CTRL_BREAK_EVENT
# (GenerateConsoleCtrlEvent fails); that case then reports a skip.
case_console_stop() {  # c|break
  need_cli && need_example orn5300.ini || return
  state_init
  state_set virtual_time false
  put "$EXAMPLES/orn5300.ini" station.ini
  all_env ORN5300_LOG=log.csv
  local p problems="" last before
  for p in $(windows_paths); do
    run_path "$p" "$HOLD_FILE" break "$1" log.csv station.ini 30000 "\"$(winepath_of "$WIN_CLI")\" -w -i station.ini -N -l 100fd"
    if [ "$RC" = 90 ] && grep -q "GenerateConsoleCtrlEvent" "$CDIR/$p.txt"; then
      skip "Wine cannot deliver the event: $(grep -m1 '^hold_file:' "$CDIR/$p.txt")"
      return
    fi
    last=$(tail -1 "$CDIR/$p/log.csv" | tr -d '\r')
    before=$(tail -2 "$CDIR/$p/log.csv" | head -1 | tr -d '\r')
    if [ "$RC" != 130 ]; then problems="$problems$p exit code $RC: $(grep -m1 '^hold_file:' "$CDIR/$p.txt"); "
    elif [[ $last != *",512,passed,130,The run was stopped by "* ]]; then problems="$problems$p record: $last; "
    elif [[ $before != *",00:80:0F:53:00:01,000000000001,0,started,,,"* ]]; then problems="$problems$p start line: $before; "
    elif cmp -s "$CDIR/$p/station.ini" "$EXAMPLES/orn5300.ini"; then problems="$problems$p INI file not stepped; "
    fi
  done
  [ -z "$problems" ] && pass "exit code 130, the record after the start line: ${last#*,passed,130,}" || fail "$problems"
}
add_case --long "console-stop[Ctrl+C]" case_console_stop c
add_case "console-stop[Ctrl+Break]" case_console_stop break

# --- The line database ---------------------------------------------------------------

# pg_ready: the throwaway PostgreSQL server of this run is up; otherwise the
# case is skipped (packages missing) or failed, with the reason.
pg_ready() {
  local rc
  rc=$(cat "$WORK/pg.rc" 2>/dev/null)
  [ "$rc" = 0 ] && return 0
  if [ "$rc" = 77 ]; then skip "no PostgreSQL: $(cat "$PG_STATE/skipped" 2>/dev/null)"
  else fail "the throwaway PostgreSQL did not start: $(tail -3 "$WORK/pg.out" 2>/dev/null | tr '\n' ' ')"; fi
  return 1
}
pg_password() { sed -n 's/.*;Pwd=\([^;]*\);.*/\1/p' "$PG_STATE/connection"; }

# case_databases: a database of its own for each path of the case, so that
# each run gets the first identity of its pool; sets DB_lin, DB_win, DB_drv
# to their connection strings (the password stays in variables, never in a
# file of the case).
case_databases() {
  local p name conn
  conn=$(cat "$PG_STATE/connection")
  for p in lin win drv; do
    name=orn_wine_${CASE_INDEX}_$p
    PGPASSWORD=$(pg_password) psql -h 127.0.0.1 -p "$(cat "$PG_STATE/port")" -U orn -d postgres -qAt \
      -v ON_ERROR_STOP=1 -c "CREATE DATABASE $name" >/dev/null 2>"$CDIR/psql.err" ||
      { echo "CREATE DATABASE: $(cat "$CDIR/psql.err")"; return 1; }
    printf -v "DB_$p" '%s' "${conn/Database=postgres/Database=$name}"
  done
}

# db_tool FOLDER ARGS...: orn5300db on the folder's database, the Linux
# build on lin, the Windows one under Wine on win and drv; the output in
# FOLDER.db.txt. Returns its exit code.
db_tool() {
  local folder=$1 conn_var=DB_$1
  shift
  if [ "$folder" = lin ]; then
    (cd "$CDIR/lin" && ORN5300_DB=${!conn_var} "$LIN_DB" "$@" </dev/null >"$CDIR/lin.db.raw" 2>&1)
    RC=$?
    cp "$CDIR/lin.db.raw" "$CDIR/lin.db.txt"
  else
    run_windows "$folder" env "ORN5300_DB=${!conn_var}" "$WINE" "$WIN_DB" "$@"
    { cat "$CDIR/$folder.raw" "$CDIR/$folder.err"; } | normalise_windows >"$CDIR/$folder.db.txt"
  fi
  return $RC
}

# export_units: each path's units table as the Linux orn5300db exports it,
# time and host normalised, in FOLDER.export.csv.
export_units() {
  local p conn_var
  for p in lin win drv; do
    conn_var=DB_$p
    ORN5300_DB=${!conn_var} "$LIN_DB" export >"$CDIR/$p.export.csv" 2>&1
    normalise_log "$CDIR/$p.export.csv"
  done
}

# no_password: the connection string's password is in no output or file of
# the case (outputs, exports, logs, spool, Wine's stderr).
no_password() {
  local found
  found=$(grep -rlF -- "$(pg_password)" "$CDIR" 2>/dev/null)
  [ -z "$found" ] && return 0
  fail "the password appears in: $(echo $found)"
  return 1
}

# A pool on the line database: init and pool create by orn5300db (the
# Windows one under Wine on the Windows paths' databases, through Wine's
# odbc32 and the host's unixODBC), then a programming run takes the pool's
# first identity on every path, leaves the INI file alone and is recorded.
case_db_pool_run() {
  need_cli && need_example orn5300.ini && pg_ready || return
  local problems="" p
  case_databases >"$CDIR/db.problems" || { fail "$(cat "$CDIR/db.problems")"; return; }
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  for p in lin win drv; do
    db_tool "$p" init || problems="$problems$p init: $(tail -1 "$CDIR/$p.db.txt"); "
    db_tool "$p" pool create line3 --from station.ini >/dev/null ||
      problems="$problems$p pool create: $(tail -1 "$CDIR/$p.db.txt"); "
    [ "$p" = lin ] || cmp -s "$CDIR/lin.db.txt" "$CDIR/$p.db.txt" ||
      problems="$problems$p pool create says: $(tail -1 "$CDIR/$p.db.txt"); "
    path_env "$p" "ORN5300_DB=$(v=DB_$p; echo "${!v}")" ORN5300_POOL=line3
  done
  if [ -n "$problems" ]; then
    [[ $problems == *"win "* || $problems == *"drv "* ]] &&
      problems="$problems(Wine's odbc32 loads the host's libodbc.so.2, Debian package libodbc2, and the drivers of /etc/odbcinst.ini)"
    fail "orn5300db: $problems"
    return
  fi
  run_both --sim -w -i station.ini
  compare && expect_rc 0 &&
    expect_text "Identity from the pool line3: MAC address 00:80:0F:53:00:01, serial number 000000000001" || return
  cmp -s "$CDIR/win/station.ini" "$EXAMPLES/orn5300.ini" || { fail "a pool run changed the INI file"; return; }
  export_units
  for p in win drv; do
    [ "$p" = drv ] && [ "$DRIVER_RAN" != 1 ] && continue
    cmp -s "$CDIR/lin.export.csv" "$CDIR/$p.export.csv" || problems="$problems$p units differ; "
  done
  if [ -n "$problems" ]; then fail "$problems"; diff "$CDIR/lin.export.csv" "$CDIR/win.export.csv" | head -5
  elif ! grep -qF ",station.ini,00f137c92036901b5f92cf5e1d5ad14acd92aaad1135d43e9cdecaecef1498f0,00:80:0F:53:00:01,000000000001,512,passed,0," \
       "$CDIR/win.export.csv"; then fail "the unit is not recorded: $(tail -1 "$CDIR/win.export.csv")"
  else no_password && pass "pool's first identity programmed and recorded on every path"; fi
}
add_case db-pool-run case_db_pool_run

# The record of a run whose identity comes from the INI file (ORN5300_DB
# only): the unit in the table, the INI file stepped; a second run with the
# same identity from a copy of the file is refused by the table's guard
# before the device.
case_db_ini_record() {
  need_cli && need_example orn5300.ini && pg_ready || return
  local problems="" p
  case_databases >"$CDIR/db.problems" || { fail "$(cat "$CDIR/db.problems")"; return; }
  state_init
  put "$EXAMPLES/orn5300.ini" station.ini
  put "$EXAMPLES/orn5300.ini" copy.ini
  for p in lin win drv; do
    (v=DB_$p; ORN5300_DB=${!v} "$LIN_DB" init >/dev/null) || problems="$problems$p init failed; "
    path_env "$p" "ORN5300_DB=$(v=DB_$p; echo "${!v}")"
  done
  [ -z "$problems" ] || { fail "orn5300db: $problems"; return; }
  run_both --sim -w -i station.ini -N
  compare && expect_rc 0 && expect_text "Updated ini file" || return
  export_units
  for p in win drv; do
    [ "$p" = drv ] && [ "$DRIVER_RAN" != 1 ] && continue
    cmp -s "$CDIR/lin.export.csv" "$CDIR/$p.export.csv" || problems="$problems$p units differ; "
  done
  grep -qF ",00:80:0F:53:00:01,000000000001,512,passed,0," "$CDIR/win.export.csv" ||
    problems="${problems}the unit is not recorded: $(tail -1 "$CDIR/win.export.csv"); "
  [ -z "$problems" ] || { fail "$problems"; return; }
  # The refusal names the other unit's row, which differs by path: only the
  # exit codes and the message are compared.
  run_both --sim -w -i copy.ini
  for p in lin.txt win.txt drv.txt; do
    [ -f "$CDIR/$p" ] && ! grep -q "^ERROR: MAC address 00:80:0F:53:00:01 is held by unit " "$CDIR/$p" &&
      problems="$problems${p%.txt} output: $(tail -1 "$CDIR/$p"); "
  done
  [ "$LRC" = 10 ] && [ "$WRC" = 10 ] && { [ "$DRIVER_RAN" != 1 ] || [ "$DRC" = 10 ]; } ||
    problems="${problems}exit codes $LRC $WRC ${DRC:-}, expected 10; "
  [ -z "$problems" ] || { fail "second run: $problems"; return; }
  no_password && pass "recorded with the INI file's identity; the same identity again refused (exit code 10)"
}
add_case db-ini-record case_db_ini_record

# --- The simulator program --------------------------------------------------------

case_orn5300sim() {
  local step
  for step in "init s.json --chip ORN5350 --eeprom-size 256" "set s.json adapter_port 7" "set s.json eeprom A50A0D1A" \
              "show s.json" "show s.json eeprom" "show s.json mcu" "show missing.json"; do
    # shellcheck disable=SC2086
    run_sims $step
    compare "orn5300sim $step" || return
  done
  pass "init, set and show agree"
}
add_case orn5300sim case_orn5300sim

# --- Run -----------------------------------------------------------------------------

echo "Wine: $WINE ($("$WINE" --version 2>/dev/null)), work folder $WORK"
start=$(date +%s)
# The line database's cases use a throwaway PostgreSQL server, started
# while Wine sets up its prefix; its ODBC driver is the host's, which Wine's
# odbc32 reaches through unixODBC. pg.rc is 77 when the packages are missing.
("$ROOT/tools/pg_server.sh" start "$PG_STATE" >"$WORK/pg.out" 2>&1; echo $? >"$WORK/pg.rc") &
pg_job=$!
mkdir -p "$TEMPLATE"
WINEPREFIX=$TEMPLATE WINE_ERR=$WORK/prefix-setup.err wine_run wineboot -i >/dev/null
booted=$(date +%s)
# The prefix is copied once every program that wineboot started has ended
# and the wineserver has saved the registry and ended too. (Killing it
# instead saves a few seconds but can strand a program that was just
# starting, for good.)
WINEPREFIX=$TEMPLATE "$WINESERVER" -w
wait $pg_job
echo "Wine prefix set up after $(( $(date +%s) - start )) s ($(( booted - start )) s wineboot); $(tail -1 "$WORK/pg.out")"

run_cases

# Every operation of the tool went through the driver, each with the input
# and output lengths of its kind (checked run by run in compare).
CASE=request-lengths
ops=$(sort -un "$WORK/ops-seen" 2>/dev/null | tr '\n' ' ')
want="1 2 3 4 5 7 8 9 10 11 12 15 16 17 18 19 20 23 24 25 26 27 28 "
if [ "${ORN_WINE_DRIVER:-1}" != 1 ]; then
  skip "the driver path is off"; SKIPPED=$((SKIPPED + 1))
elif [ "$ops" = "$want" ]; then
  pass "all 23 operations sent through the driver with their lengths"; PASSED=$((PASSED + 1))
elif [ "$SKIPPED" -gt 0 ]; then
  skip "operations sent: $ops (cases were skipped)"; SKIPPED=$((SKIPPED + 1))
else
  fail "operations sent through the driver: $ops; expected $want"; FAILED=$((FAILED + 1))
fi

echo
[ "$RERUNS" -gt 0 ] && echo "$RERUNS Windows runs made again after Wine ended them without any output"
echo "Wine tests took $(( $(date +%s) - start )) s"
echo "$PASSED passed, $FAILED failed, $SKIPPED skipped ($SIM_CASES cases through ORN5300_SIM, $DRIVER_CASES through the driver)"
[ "$FAILED" -eq 0 ]
