#!/usr/bin/env bash
# -p through the adapter: a peer that answers, and addresses that are refused
# before anything is sent.
. "$(dirname "$0")/../net/netns_lib.sh"
require_namespaces
setup_link "$ADAPTER_ALIAS"

new_state
run_cli -p "$PEER_ADDR"
require_features
if printf '%s\n' "$OUT" | grep -q "^Link is down" && ! trace_requests | grep -q "^READ_PHY"; then
  skip "the link check reads no PHY register: LanPhyGetLinkState has not landed"
fi
line="Pinged $PEER_ADDR successfully."
expected=$(printf '%s\n' "$line" "$line" "$line")
if [ "$(body)" = "$expected" ] && [ "$CODE" -eq 0 ]; then
  pass "three runs pinged the peer, exit 0"
else
  fail "ping to the peer: exit $CODE, output:"; printf '%s\n' "$OUT"
fi
# Link up by the simulator's default PHY registers, so no link waits: the
# settle time and the three half-second pauses only.
sleeps=$(trace_sleeps)
[ "$sleeps" = "3000 500 500 500" ] && pass "waits $sleeps" || fail "waits were '$sleeps'"

for bad in 10.0.0.0 1.2.3; do
  new_state
  before=$(tx_packets)
  run_cli -p "$bad"
  after=$(tx_packets)
  expected="ERROR: ***Invalid IP address.***ERROR: ***Invalid IP address.***ERROR: ***Invalid IP address.***"
  if [ "$(body)" = "$expected" ] && [ "$CODE" -eq 7 ]; then
    pass "$bad refused three times, exit 7"
  else
    fail "$bad: exit $CODE, output:"; printf '%s\n' "$OUT"
  fi
  [ "$before" = "$after" ] && pass "$bad: nothing sent" || fail "$bad: $((after - before)) packets sent"
  sleeps=$(trace_sleeps)
  [ "$sleeps" = "3000 500 500 500" ] && pass "$bad: no attempt waits" || fail "$bad: waits '$sleeps'"
done
finish
