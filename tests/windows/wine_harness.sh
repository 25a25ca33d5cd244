# shellcheck shell=bash
# The framework of the Wine tests, sourced by run_wine_tests.sh: Wine, the
# prefix and its lanes with the test driver, the list of cases and their
# parallel run, and the helpers that cases use to run the builds and compare
# them. run_wine_tests.sh holds the cases.
#
# Paths. A case that runs the command-line tool against a simulated
# controller (run_both --sim) runs it three times, each on its own identical
# copy of the inputs:
#   lin/  the Linux build with ORN5300_SIM: the reference;
#   win/  the Windows build under Wine with ORN5300_SIM;
#   drv/  the Windows build under Wine without ORN5300_SIM: its CreateFile of
#         \\.\ORN5300_IOCTL and its DeviceIoControl calls reach the test
#         driver (tests/windows/driver/), whose bridge answers them from
#         drv/state.json and traces them to drv/trace.jsonl.
# lin and win must agree exactly. win and drv must agree in standard output,
# exit code and files; the state may differ only in clock_ms and the trace
# only in its sleep lines and their sequence numbers, because the tool
# really sleeps on the driver path and a driver never sees a sleep.
#
# Lanes. One Wine prefix is set up per run and copied into ORN_WINE_LANES
# lanes (hard links; the files that Wine rewrites are real copies). Each lane
# has its own wineserver for the whole run and the test driver loaded as a
# kernel service; the driver's folder C:\orn5300 is a link to the drv/ folder
# of the lane's current case. A lane runs one case at a time, so runs on one
# state file never overlap; the lanes run side by side, taking the cases from
# one queue (the cases marked --long first).

# --- Wine -------------------------------------------------------------------

find_wine() {
  if [ -n "${WINE:-}" ]; then echo "$WINE"; return; fi
  local w
  for w in "$(command -v wine64 2>/dev/null)" /usr/lib/wine/wine64 "$(command -v wine 2>/dev/null)"; do
    [ -n "$w" ] && [ -x "$w" ] && { echo "$w"; return; }
  done
}

# Headless console programs: no Mono or Gecko installers, no windows.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Runs a Windows program in the current prefix; its stderr goes to the file
# named by $WINE_ERR.
wine_run() {
  timeout 120 "$WINE" "$@" 2>>"${WINE_ERR:-/dev/null}"
}

# --- The test driver in a prefix ----------------------------------------------

DRIVER_SERVICE=orn5300test
DRIVER_KEY='HKEY_LOCAL_MACHINE\System\CurrentControlSet\Services\orn5300test\Parameters'
DRIVER_SYS_PATH='C:\windows\system32\drivers\orn5300test.sys'

# write_driver_settings FILE [NAME=REGVALUE...]: the driver's Parameters key
# as a file for regedit, replacing whatever was there: the state file and
# trace in C:\orn5300 (the link to the current case's drv/), the bridge's
# log in C:\orn5300-driver, and extra values such as ShortReplyOp=dword:0000000a.
write_driver_settings() {
  local file=$1 value
  shift
  {
    printf 'REGEDIT4\n\n[-%s]\n\n[%s]\n' "$DRIVER_KEY" "$DRIVER_KEY"
    printf '"StateFile"="C:\\\\orn5300\\\\state.json"\n'
    printf '"TraceFile"="C:\\\\orn5300\\\\trace.jsonl"\n'
    printf '"LogFile"="C:\\\\orn5300-driver\\\\bridge.log"\n'
    for value in "$@"; do printf '"%s"=%s\n' "${value%%=*}" "${value#*=}"; done
  } >"$file"
}

# The lane's driver settings, as write_driver_settings takes them; a case
# that changes them gets them reset after it.
driver_settings() {
  write_driver_settings "$LANE/settings.reg" "$@"
  LANE_SETTINGS_CHANGED=1
  WINE_ERR=$LANE/setup.err wine_run regedit /S "$(winepath_of "$LANE/settings.reg")" >/dev/null
}

# The Windows name of a file below /, through drive Z:.
winepath_of() {
  printf 'Z:%s' "$1" | tr / '\\'
}

# make_lane N: copies the set-up prefix into lane N, starts its wineserver
# and loads the test driver. Prints what went wrong and fails otherwise.
make_lane() {
  local lane=$WORK/lane$1 f
  cp -al "$TEMPLATE" "$lane" 2>/dev/null || cp -a "$TEMPLATE" "$lane" || { echo "cannot copy the prefix"; return 1; }
  # Files that Wine rewrites in place get their own copy; the name of the
  # wineserver's folder must not be shared, or the lanes would share one.
  for f in system.reg user.reg userdef.reg .update-timestamp drive_c/windows/win.ini drive_c/windows/system.ini; do
    [ -f "$TEMPLATE/$f" ] && cp -p --remove-destination "$TEMPLATE/$f" "$lane/$f"
  done
  rm -f "$lane/wineserver"
  cp "$DRIVER_SYS" "$lane/drive_c/windows/system32/drivers/" &&
    cp "$BRIDGE_DLL" "$lane/drive_c/windows/system32/" || { echo "cannot copy the driver"; return 1; }
  mkdir -p "$lane/drive_c/orn5300-driver" "$lane/idle"
  ln -sfn "$lane/idle" "$lane/drive_c/orn5300"
  : >"$lane/drive_c/orn5300-driver/bridge.log"
  (
    export WINEPREFIX=$lane WINE_ERR=$lane/setup.err
    "$WINESERVER" -p || exit 1
    wine_run sc create "$DRIVER_SERVICE" type= kernel start= demand binPath= "$DRIVER_SYS_PATH" >>"$lane/setup.log" &&
      write_driver_settings "$lane/settings.reg" &&
      wine_run regedit /S "$(winepath_of "$lane/settings.reg")" >>"$lane/setup.log"
  ) || { echo "cannot register the driver (see $lane/setup.log)"; return 1; }
  LANE=$lane LANE_DRIVER=stopped lane_driver start || return 1
}

# lane_driver start|stop: loads or unloads the lane's driver, unless it is so
# already. Sets LANE_DRIVER (started, stopped or unknown).
lane_driver() {
  local want=RUNNING now=started out i
  [ "$1" = stop ] && { want=STOPPED; now=stopped; }
  [ "${LANE_DRIVER:-}" = "$now" ] && return 0
  out=$(WINEPREFIX=$LANE WINE_ERR=$LANE/setup.err wine_run sc "$1" "$DRIVER_SERVICE")
  for ((i = 0; i < 50; i++)); do
    if echo "$out" | grep -q "STATE *: *[0-9]* *$want"; then
      LANE_DRIVER=$now
      return 0
    fi
    sleep 0.1
    out=$(WINEPREFIX=$LANE WINE_ERR=$LANE/setup.err wine_run sc query "$DRIVER_SERVICE")
  done
  echo "the driver did not $1 in $LANE: $(echo $out)"
  LANE_DRIVER=unknown
  return 1
}

# Ends the wineservers of the run's prefixes, side by side (other Wine
# sessions are left alone), and removes their socket folders.
stop_prefixes() {
  local p
  for p in "$WORK"/lane* "$TEMPLATE"; do
    [ -d "$p" ] || continue
    (
      dir=$(cat "$p/wineserver" 2>/dev/null)
      WINEPREFIX=$p "$WINESERVER" -k >/dev/null 2>&1
      WINEPREFIX=$p "$WINESERVER" -w >/dev/null 2>&1
      case "$dir" in wine-?*) rm -rf "/tmp/$dir" ;; esac
    ) &
  done
  wait
}

# --- Cases and their results --------------------------------------------------

CASE_NAMES=()
CASE_CALLS=()
CASE_FLAGS=()

# add_case [--long] [--no-driver] NAME FUNCTION [ARGUMENTS...]: a case runs
# FUNCTION with ARGUMENTS in its own folder. --long puts it at the head of
# the queue (it sleeps for real on the driver path); --no-driver runs it
# while its lane's driver is unloaded.
add_case() {
  local flags=""
  while [ "${1:-}" = --long ] || [ "${1:-}" = --no-driver ]; do flags+=" $1"; shift; done
  CASE_NAMES+=("$1")
  CASE_FLAGS+=("$flags")
  shift
  CASE_CALLS+=("$(printf '%q ' "$@")")
}

pass() { echo "PASS $CASE${1:+: $1}"; }
fail() { echo "FAIL $CASE: $1"; }
skip() { echo "SKIP $CASE: $1"; }

# The paths a case took, for the summary.
note_path() { echo "$1" >>"$WORK/results/$CASE_INDEX.paths"; }

# next_case: the index of the lane's next case from the shared queue, or
# nothing when the queue is empty.
next_case() {
  local n
  {
    flock 9
    n=$(cat "$WORK/queue.next")
    echo $((n + 1)) >"$WORK/queue.next"
  } 9>>"$WORK/queue.lock"
  [ "$n" -lt "${#QUEUE[@]}" ] && echo "${QUEUE[$n]}"
}

run_case() {
  CASE_INDEX=$1
  new_case "${CASE_NAMES[$1]}"
  local flags=${CASE_FLAGS[$1]}
  if [[ $flags == *--no-driver* ]]; then
    lane_driver stop || { fail "the lane's driver could not be unloaded"; return; }
  else
    lane_driver start || { fail "the lane's driver could not be loaded"; return; }
  fi
  eval "${CASE_CALLS[$1]}"
  if [ "${LANE_SETTINGS_CHANGED:-0}" = 1 ]; then
    driver_settings
    LANE_SETTINGS_CHANGED=0
  fi
  ln -sfn "$LANE/idle" "$LANE/drive_c/orn5300"
}

lane_worker() {
  LANE=$WORK/lane$1
  LANE_DRIVER=started
  export WINEPREFIX=$LANE
  local i
  while i=$(next_case) && [ -n "$i" ]; do
    run_case "$i" >"$WORK/results/$i.out" 2>&1
  done
}

# run_cases: sets up the lanes, runs every case and prints the results in
# the order the cases were added; sets PASSED, FAILED, SKIPPED and the path
# counts, and RERUNS (runs made again after Wine ended them without output).
run_cases() {
  local lanes=${ORN_WINE_LANES:-3} n i problem
  [ "$lanes" -ge 1 ] 2>/dev/null || lanes=1
  QUEUE=()
  for i in "${!CASE_NAMES[@]}"; do [[ ${CASE_FLAGS[$i]} == *--long* ]] && QUEUE+=("$i"); done
  for i in "${!CASE_NAMES[@]}"; do [[ ${CASE_FLAGS[$i]} != *--long* ]] && QUEUE+=("$i"); done
  echo 0 >"$WORK/queue.next"
  mkdir -p "$WORK/results"

  local start
  start=$(date +%s)
  for ((n = 1; n <= lanes; n++)); do
    (problem=$(make_lane "$n") || { echo "$problem" >"$WORK/lane$n.failed"; exit 1; }) &
  done
  wait
  local ready=0
  for ((n = 1; n <= lanes; n++)); do
    if [ -f "$WORK/lane$n.failed" ]; then
      echo "lane $n unusable: $(cat "$WORK/lane$n.failed")"
    else
      ready=$((ready + 1))
      lane_worker "$n" &
    fi
  done
  echo "$ready of $lanes lanes with the test driver ready after $(( $(date +%s) - start )) s"
  wait

  PASSED=0 FAILED=0 SKIPPED=0 SIM_CASES=0 DRIVER_CASES=0 RERUNS=0
  for i in "${!CASE_NAMES[@]}"; do
    CASE=${CASE_NAMES[$i]}
    if [ ! -f "$WORK/results/$i.out" ]; then
      fail "not run (no lane was ready)"
      FAILED=$((FAILED + 1))
      continue
    fi
    cat "$WORK/results/$i.out"
    local p=0 f=0 s=0
    p=$(grep -c '^PASS ' "$WORK/results/$i.out")
    f=$(grep -c '^FAIL ' "$WORK/results/$i.out")
    s=$(grep -c '^SKIP ' "$WORK/results/$i.out")
    if [ $((p + f + s)) -eq 0 ]; then
      fail "the case ended without a verdict"
      f=1
    fi
    PASSED=$((PASSED + p)) FAILED=$((FAILED + f)) SKIPPED=$((SKIPPED + s))
    RERUNS=$((RERUNS + $(grep -c '^NOTE .*made it again' "$WORK/results/$i.out")))
    if [ -f "$WORK/results/$i.paths" ]; then
      grep -qx sim "$WORK/results/$i.paths" && SIM_CASES=$((SIM_CASES + 1))
      grep -qx driver "$WORK/results/$i.paths" && DRIVER_CASES=$((DRIVER_CASES + 1))
    fi
  done
}

# --- Helpers for cases ----------------------------------------------------------
# Each case has three folders with identical inputs, lin/, win/ and drv/;
# every run happens inside its own folder with the same relative file names.

new_case() {
  CASE=$1
  CDIR=$WORK/cases/$CASE_INDEX
  mkdir -p "$CDIR/lin" "$CDIR/win" "$CDIR/drv"
  echo "$CASE" >"$CDIR/name"
  DRIVER_RAN=0
  PATH_ENV_lin=() PATH_ENV_win=() PATH_ENV_drv=()
}

# path_env FOLDER NAME=VALUE...: environment for the tool's runs on one path
# of the case (lin, win or drv), on top of what run_both sets; all_env for
# the three.
path_env() {
  local -n path_env_ref=PATH_ENV_$1
  path_env_ref+=("${@:2}")
}
all_env() {
  local folder
  for folder in lin win drv; do path_env "$folder" "$@"; done
}

# put SOURCE [NAME]: copies an input file into the three folders.
put() {
  local name=${2:-$(basename "$1")} d
  for d in lin win drv; do cp "$1" "$CDIR/$d/$name" || return 1; done
}

# state_init [init options]: a fresh simulator state file state.json in the three folders.
state_init() {
  (cd "$CDIR/lin" && "$LIN_SIM" init state.json "$@" >/dev/null) &&
    cp "$CDIR/lin/state.json" "$CDIR/win/state.json" && cp "$CDIR/lin/state.json" "$CDIR/drv/state.json"
}

# state_set KEY VALUE: changes one key of the three state files.
state_set() {
  (cd "$CDIR/lin" && "$LIN_SIM" set state.json "$1" "$2" >/dev/null) &&
    cp "$CDIR/lin/state.json" "$CDIR/win/state.json" && cp "$CDIR/lin/state.json" "$CDIR/drv/state.json"
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

# run_both [--sim | --sim-only] ARGS...: runs the command-line tool of both
# builds on their folders. With --sim each talks to its folder's simulator
# state (named by an absolute path, which Wine maps through drive Z:) and
# traces to trace.jsonl, and the Windows build then runs once more through
# the test driver on drv/. --sim-only leaves out the driver path, for what
# only the simulator can show (open errors other than a missing device).
# Sets LOUT, WOUT (normalised stdout), LRC, WRC, and DRC when the driver ran.
run_both() {
  local mode=none
  case "${1:-}" in --sim) mode=sim; shift ;; --sim-only) mode=sim-only; shift ;; esac
  local -a lenv=(env -u ORN5300_SIM -u ORN5300_SIM_TRACE) wenv=(env -u ORN5300_SIM -u ORN5300_SIM_TRACE)
  if [ $mode != none ]; then
    lenv=(env "ORN5300_SIM=$CDIR/lin/state.json" ORN5300_SIM_TRACE=trace.jsonl)
    wenv=(env "ORN5300_SIM=$CDIR/win/state.json" ORN5300_SIM_TRACE=trace.jsonl)
    note_path sim
  fi
  lenv+=("${PATH_ENV_lin[@]}")
  wenv+=("${PATH_ENV_win[@]}")
  run_programs "$LIN_CLI" "$WIN_CLI" "$@"
  DRIVER_RAN=0
  if [ $mode = sim ] && [ "${ORN_WINE_DRIVER:-1}" = 1 ]; then run_driver "$@"; fi
}

# run_driver ARGS...: runs the Windows command-line tool on drv/ without
# ORN5300_SIM, so that it opens \\.\ORN5300_IOCTL and reaches the lane's
# test driver, which keeps its state in drv/. Sets DRC and DOUT.
run_driver() {
  run_path drv "$WIN_CLI" "$@"
  DRC=$RC
  DOUT=$(cat "$CDIR/drv.txt")
}

# run_path win|drv PROGRAM ARGS...: runs a Windows PROGRAM under Wine on one
# Windows path of the case: win with ORN5300_SIM on win/state.json; drv
# without it, through the lane's test driver, which keeps its state in drv/.
# On drv it waits until the driver has closed every session of the run
# (Wine completes a close without waiting for the driver), then keeps the
# bridge's log lines of the run in drv.run.log and drv.log. Its output is in
# FOLDER.txt; sets RC and RUN_MS (how long the run took).
run_path() {
  local folder=$1 start rc
  shift
  start=$(date +%s%N)
  if [ "$folder" = drv ]; then
    DRIVER_LOG=$LANE/drive_c/orn5300-driver/bridge.log
    ln -sfn "$CDIR/drv" "$LANE/drive_c/orn5300"
    DRIVER_LOG_BEFORE=$(wc -l <"$DRIVER_LOG")
    run_windows drv env -u ORN5300_SIM -u ORN5300_SIM_TRACE "${PATH_ENV_drv[@]}" "$WINE" "$@"
    rc=$RC
    RUN_MS=$((($(date +%s%N) - start) / 1000000))
    driver_settle "$DRIVER_LOG" "$DRIVER_LOG_BEFORE" ||
      echo "the driver did not close the run's session within 20 s" >>"$CDIR/drv.problems"
    tail -n +$((DRIVER_LOG_BEFORE + 1)) "$DRIVER_LOG" >"$CDIR/drv.run.log"
    cat "$CDIR/drv.run.log" >>"$CDIR/drv.log"
    DRIVER_RAN=1
    note_path driver
    RC=$rc
  else
    run_windows win env "ORN5300_SIM=$CDIR/win/state.json" ORN5300_SIM_TRACE=trace.jsonl "${PATH_ENV_win[@]}" \
      "$WINE" "$@"
    RUN_MS=$((($(date +%s%N) - start) / 1000000))
    note_path sim
  fi
  normalise_windows <"$CDIR/$folder.raw" >"$CDIR/$folder.txt"
}

# run_linux ARGS...: the Linux build's run of the tool on lin/ with
# ORN5300_SIM; sets LRC and LOUT.
run_linux() {
  (cd "$CDIR/lin" && env "ORN5300_SIM=$CDIR/lin/state.json" ORN5300_SIM_TRACE=trace.jsonl "${PATH_ENV_lin[@]}" \
    "$LIN_CLI" "$@" </dev/null >"$CDIR/lin.out" 2>"$CDIR/lin.err")
  LRC=$?
  normalise_linux <"$CDIR/lin.out" >"$CDIR/lin.txt"
  LOUT=$(cat "$CDIR/lin.txt")
  note_path sim
}

# The Windows paths of a device case: win, and drv unless ORN_WINE_DRIVER=0.
windows_paths() {
  if [ "${ORN_WINE_DRIVER:-1}" = 1 ]; then echo win drv; else echo win; fi
}

# hold_file ARGS...: the helper that plays another program on the station
# (tests/windows/tools/hold_file.c), under Wine in the current directory.
hold_file() {
  timeout 60 "$WINE" "$HOLD_FILE" "$@"
}

# holder_start FOLDER COMMAND...: runs COMMAND (a hold_file call whose ready
# marker is $CDIR/FOLDER.ready) in the case's FOLDER in the background and
# waits until it has made the marker (at most 20 s). Reports why otherwise.
holder_start() {
  local folder=$1 i
  shift
  rm -f "$CDIR/$folder.ready"
  (cd "$CDIR/$folder" && "$@" </dev/null >"$CDIR/$folder.holder" 2>>"$CDIR/$folder.holder.err") &
  HOLDER_PID=$!
  for ((i = 0; i < 1000; i++)); do
    [ -e "$CDIR/$folder.ready" ] && return 0
    kill -0 "$HOLDER_PID" 2>/dev/null || break
    sleep 0.02
  done
  holder_end "$folder"
  echo "the $folder holder did not get ready (exit code $HOLDER_RC): $HOLDER_OUT"
  return 1
}

# holder_end FOLDER: waits for the holder; sets HOLDER_RC and HOLDER_OUT.
holder_end() {
  wait "$HOLDER_PID"
  HOLDER_RC=$?
  HOLDER_OUT=$(tr -d '\r' <"$CDIR/$1.holder")
}

# normalise_log FILE: the production log FILE with the time and host columns
# of its records replaced by TIME and HOST (the runs of one case differ in
# them: they end at other seconds, and Wine's computer name is the host's in
# upper case).
normalise_log() {
  [ -f "$1" ] && perl -i -pe 's/^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ,[^,]*,/TIME,HOST,/' "$1"
  return 0
}

# run_windows FOLDER ENV-COMMAND... PROGRAM ARGS...: runs a Windows program
# under Wine in the case's FOLDER (win or drv), its output in FOLDER.raw and
# FOLDER.err; sets RC. Now and then Wine ends a program before it has run,
# with exit code 1 and no output at all, which the programs never do (the
# tool prints its banner first): such a run is undone, its folder put back as
# it was, and made once more, with a note in the case's output.
run_windows() {
  local folder=$1 try
  shift
  rm -rf "$CDIR/$folder.before"
  cp -a "$CDIR/$folder" "$CDIR/$folder.before"
  for try in 1 2; do
    (cd "$CDIR/$folder" && timeout 120 "$@" </dev/null >"$CDIR/$folder.raw" 2>"$CDIR/$folder.err")
    RC=$?
    if [ $try = 2 ] || [ "$RC" != 1 ] || [ -s "$CDIR/$folder.raw" ] || [ -s "$CDIR/$folder.err" ]; then break; fi
    echo "NOTE $CASE: Wine ended the $folder run without any output (exit code 1); made it again"
    [ "$folder" = drv ] && [ -n "${DRIVER_LOG:-}" ] && driver_settle "$DRIVER_LOG" "$DRIVER_LOG_BEFORE"
    rm -rf "${CDIR:?}/$folder" && cp -a "$CDIR/$folder.before" "$CDIR/$folder"
  done
  rm -rf "$CDIR/$folder.before"
}

# driver_settle LOG LINES_BEFORE: waits (up to 20 s) until every session
# that the bridge's LOG shows opened after its first LINES_BEFORE lines is
# closed again, its state saved.
driver_settle() {
  local i
  for ((i = 0; i < 1000; i++)); do
    tail -n +$(($2 + 1)) "$1" | awk '/^open /{o++} /^close /{c++} END{exit o != c}' && return 0
    sleep 0.02
  done
  return 1
}

# run_programs LINUX_PROGRAM WINDOWS_PROGRAM ARGS...: runs both programs on
# their folders with the environments in lenv and wenv.
run_programs() {
  local lprog=$1 wprog=$2
  shift 2
  (cd "$CDIR/lin" && "${lenv[@]}" "$lprog" "$@" </dev/null >"$CDIR/lin.out" 2>"$CDIR/lin.err")
  LRC=$?
  run_windows win "${wenv[@]}" "$WINE" "$wprog" "$@"
  WRC=$RC
  normalise_linux <"$CDIR/lin.out" >"$CDIR/lin.txt"
  normalise_windows <"$CDIR/win.raw" >"$CDIR/win.txt"
  LOUT=$(cat "$CDIR/lin.txt")
  WOUT=$(cat "$CDIR/win.txt")
}

# run_sims ARGS...: runs both simulator programs on their folders.
run_sims() {
  local -a lenv=(env) wenv=(env)
  run_programs "$LIN_SIM" "$WIN_SIM" "$@"
  DRIVER_RAN=0
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

# state_view FILE [driver]: the state as compared; through the driver
# without clock_ms, which only the tool's sleeps move on the simulator path.
# A file that is no valid state is compared byte for byte.
state_view() {
  if ! "$LIN_SIM" show "$1" >/dev/null 2>&1; then cat "$1"
  elif [ "${2:-}" = driver ]; then show_state "$1" | grep -v '^clock_ms '
  else show_state "$1"; fi
}

# The trace without what only the tool's own sleeps put there: sleep lines
# and the sequence numbers they take.
trace_requests() {
  perl -ne 'next if /"sleep_ms"/; s/^\{"seq":\d+,/{/; print' "$1"
}

# same_files A B [driver]: folders A and B of the case hold the same files
# with the same contents; with "driver", B was written through the driver.
same_files() {
  local a=$CDIR/$1 b=$CDIR/$2 mode=${3:-} afiles bfiles f problems=""
  afiles=$(cd "$a" && find . -type f | sort)
  bfiles=$(cd "$b" && find . -type f | sort)
  if [ "$afiles" != "$bfiles" ]; then
    echo "different files: $1 [$(echo $afiles)] $2 [$(echo $bfiles)]"
    return 1
  fi
  for f in $afiles; do
    case "$mode:$f" in
      *:./state.json)
        if [ "$(state_view "$a/$f" "$mode")" != "$(state_view "$b/$f" "$mode")" ]; then
          problems="$problems simulator state differs;"
          diff <(state_view "$a/$f" "$mode") <(state_view "$b/$f" "$mode") | head -10 >&2
        fi ;;
      driver:./trace.jsonl)
        if [ "$(trace_requests "$a/$f")" != "$(trace_requests "$b/$f")" ]; then
          problems="$problems request trace differs;"
          diff <(trace_requests "$a/$f") <(trace_requests "$b/$f") | cut -c1-200 | head -6 >&2
        fi ;;
      *)
        cmp -s "$a/$f" "$b/$f" || problems="$problems $f differs;" ;;
    esac
  done
  [ -z "$problems" ] || { echo "$problems"; return 1; }
}

# Input lengths of the operations the tool sends, by operation code, and the
# output length of every request (4096); the block writes send 16 + length
# and WRITE_PHY 18 or 20 bytes by the width of its index. Checks the bridge's
# log lines of a run (file $1); records each operation seen in $WORK/ops-seen.
check_request_lengths() {
  perl -e '
    my %in = (1 => 4096, 2 => 17, 3 => 4096, 5 => 17, 7 => 4096, 8 => 4096, 9 => 20,
              10 => 4096, 12 => 4096, 15 => 20, 16 => 4096, 17 => 4096, 18 => 4096,
              19 => 4096, 20 => 4096, 23 => 4096, 25 => 17, 26 => 20, 27 => 20, 28 => 4096);
    my ($seen, $bad) = ($ARGV[1], 0);
    open(my $log, "<", $ARGV[0]) or exit 0;
    open(my $out, ">>", $seen) or die "$seen: $!";
    while (<$log>) {
      next unless /^control .* op=(\d+) param=0x([0-9a-f]+) in=(\d+) out=(\d+)/;
      my ($op, $param, $in, $outlen) = ($1, hex $2, $3, $4);
      my $want = $in{$op};
      $want = 16 + ($param >> 16) if $op == 4 || $op == 24;
      if ($op == 11) {
        my $wide = ($param & 0x80000000) || (($param & 0x20000000) && !($param & 0x40000000));
        $want = $wide ? 20 : 18;
      }
      if (!defined $want) { print "operation $op is none of the tool\x27s; "; $bad = 1; next; }
      if ($in != $want || $outlen != 4096) {
        print "operation $op sent in $in out $outlen, expected in $want out 4096; ";
        $bad = 1;
      }
      print $out "$op\n";
    }
    exit $bad;' "$1" "$WORK/ops-seen"
}

# compare [DESCRIPTION]: the runs agree in output, exit code and files:
# Linux and Windows, and when the driver ran, the Windows runs through the
# simulator and through the driver. Returns 1 after reporting a failure.
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
  files=$(same_files lin win 2>&1) || problems="$problems$files"
  [ "$DRIVER_RAN" = 1 ] && problems="$problems$(compare_driver)"
  if [ -n "$problems" ]; then
    fail "${1:+$1: }$problems"
    return 1
  fi
  return 0
}

# What differs between the Windows run through ORN5300_SIM and the one
# through the driver (nothing when they agree).
compare_driver() {
  local problems="" files lengths
  [ "$WRC" = "$DRC" ] || problems="exit code through ORN5300_SIM $WRC, through the driver $DRC; "
  bare_lf "$CDIR/drv.raw" && problems="${problems}driver run's stdout has LF without CR; "
  if ! cmp -s "$CDIR/win.txt" "$CDIR/drv.txt"; then
    problems="${problems}stdout through the driver differs; "
    diff "$CDIR/win.txt" "$CDIR/drv.txt" | cut -c1-160 | head -20 >&2
  fi
  files=$(same_files win drv driver 2>&1) || problems="${problems}through the driver:$files "
  lengths=$(check_request_lengths "$CDIR/drv.run.log") || problems="$problems$lengths"
  grep -q '^close .* saved=0' "$CDIR/drv.run.log" &&
    problems="${problems}the driver did not save the state: $(grep -m1 '^close .* saved=0' "$CDIR/drv.run.log"); "
  [ -s "$CDIR/drv.problems" ] && problems="$problems$(cat "$CDIR/drv.problems"); "
  rm -f "$CDIR/drv.problems"
  printf '%s' "$problems"
}

# expect_rc CODE: every run ended with this exit code (the Windows ones are
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

# The Linux build's answer decides whether a case can run: a feature that is
# not built yet is skipped, not failed.
landed() {
  local missing
  missing=$(missing_feature)
  [ -z "$missing" ] && return 0
  skip "not in this build:$missing"
  return 1
}

need_example() {
  [ -f "$EXAMPLES/$1" ] && return 0
  skip "examples/$1 is not in this tree"
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
