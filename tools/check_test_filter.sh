#!/usr/bin/env bash
# Fails when a GoogleTest filter selects no test of a program, or when any
# one of its patterns matches none: a test renamed or removed would
# otherwise drop out of a run that still passes.
#   tools/check_test_filter.sh PROGRAM FILTER
set -euo pipefail
program=$1
filter=$2
# FILTER is POSITIVE[-NEGATIVE]; the patterns are separated by colons.
positive=${filter%%-*}
count() {
  "$program" --gtest_list_tests --gtest_filter="$1" | grep -c '^  ' || true
}
status=0
IFS=: read -r -a patterns <<<"$positive"
for pattern in "${patterns[@]}"; do
  [ -n "$pattern" ] || continue
  if [ "$(count "$pattern")" -eq 0 ]; then
    echo "test filter: $pattern matches no test of $(basename "$program")"
    status=1
  fi
done
total=$(count "$filter")
if [ "$total" -eq 0 ]; then
  echo "test filter selects no test of $(basename "$program")"
  status=1
fi
[ $status -eq 0 ] && echo "test filter selects $total test$([ "$total" -eq 1 ] || echo s) of $(basename "$program")"
exit $status
