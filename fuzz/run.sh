#!/usr/bin/env bash
# Runs every built fuzz target for a set time, starting from its seed corpus
# in fuzz/corpus/<target>/. New inputs go to <build>/corpus/<target>/, crash
# inputs to <build>/artifacts/. Fails when any target finds a crash, a leak,
# a sanitizer report or a hang.
#   fuzz/run.sh <build folder> <seconds per target>
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"
# Every input is written to a file: keep those files in memory when possible.
placeholder=$(printf 'X%.0s' 1 2 3 4 5 6)  # the six characters mktemp replaces
ORN_FUZZ_SCRATCH=$(mktemp -d "/dev/shm/orn5300-fuzz.$placeholder" 2>/dev/null || mktemp -d)
export ORN_FUZZ_SCRATCH
trap 'rm -rf "$ORN_FUZZ_SCRATCH"' EXIT
failed=()
while read -r target; do
  [ -n "$target" ] || continue
  work="$build/corpus/$target"
  log="$build/$target.log"
  mkdir -p "$work"
  start=$(date +%s)
  # -timeout: an input that runs 10 s counts as a hang.
  if "$build/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
      "$work" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "$target: ok, ${runs:-?} inputs in $(( $(date +%s) - start )) s"
  else
    echo "$target: FAILED (log $log)"
    grep -E -A40 '^==[0-9]+==ERROR|runtime error|ALARM|Test unit written' "$log" | head -80 || tail -40 "$log"
    failed+=("$target")
  fi
done <"$build/fuzz_targets.txt"
# The decoder's round trip over seeded random INI files, as long as a target.
if [ -x "$build/roundtrip_img" ]; then
  if (cd "$ORN_FUZZ_SCRATCH" && TMPDIR="$ORN_FUZZ_SCRATCH" "$build/roundtrip_img" "$seconds") >"$build/roundtrip_img.log" 2>&1; then
    cat "$build/roundtrip_img.log"
  else
    echo "roundtrip_img: FAILED (log $build/roundtrip_img.log)"
    head -80 "$build/roundtrip_img.log"
    failed+=("roundtrip_img")
  fi
fi
if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing found problems in: ${failed[*]}"
  exit 1
fi
