#!/usr/bin/env bash
# -p to an address on the adapter's subnet that nobody answers: every run
# makes five attempts and reports the missing reply; the stage fails with 7.
. "$(dirname "$0")/../net/netns_lib.sh"
require_namespaces
setup_link "$ADAPTER_ALIAS"

new_state
run_cli -p 10.253.1.99
require_features
if printf '%s\n' "$OUT" | grep -q "^Link is down" && ! trace_requests | grep -q "^READ_PHY"; then
  skip "the link check reads no PHY register: LanPhyGetLinkState has not landed"
fi
expected="ERROR: There was no reply to pings "
if [ "$(count_lines "$expected")" -eq 3 ] && [ "$(body | grep -vc "^$expected\$")" -eq 0 ] &&
  [ "$CODE" -eq 7 ]; then
  pass "three runs without reply, exit 7"
else
  fail "exit $CODE, output:"; printf '%s\n' "$OUT"
fi
# Each run: half a second, then five attempts each followed by one second.
run="500 1000 1000 1000 1000 1000"
sleeps=$(trace_sleeps)
[ "$sleeps" = "3000 $run $run $run" ] && pass "attempt waits" || fail "waits were '$sleeps'"
finish
