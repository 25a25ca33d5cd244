#!/usr/bin/env bash
# -L with an emulated loopback plug on the far end of the cable, and without.
. "$(dirname "$0")/../net/netns_lib.sh"
require_namespaces
setup_link "$ADAPTER_ALIAS"

# ETH_RFE_CTL as the driver left it: broadcast reception (bit 10) on.
RFE='{"registers": {"0xB0": "0x00000402"}}'

plug_in
new_state "$RFE"
run_cli -L
require_features
expected=$(printf 'Loopback Test Passed\n%.0s' 1 2 3)
if [ "$(body)" = "$expected" ] && [ "$CODE" -eq 0 ]; then
  pass "plugged: three runs passed, exit 0"
else
  fail "plugged: exit $CODE, output:"; printf '%s\n' "$OUT"
fi
rfe=$(state_register 0xB0)
[ "$rfe" = "0x00000402" ] && pass "ETH_RFE_CTL restored" || fail "ETH_RFE_CTL is $rfe after the run"
requests=$(trace_requests)
# The 1000 Mb/s preparation: link mode 5, PHY 18 bit 5, PHY 24 = 0x0401,
# speed confirmed by PHY 17; the receive bits set around the runs.
for step in "SET_LINK_MODE 0 05000000" "READ_PHY 18 " "WRITE_PHY 18 2000" "WRITE_PHY 24 0104" \
  "READ_PHY 17 " "WRITE_REGISTER 176 02070000" "WRITE_REGISTER 176 02040000"; do
  printf '%s\n' "$requests" | grep -qx -- "$step" && pass "trace: $step" || fail "trace lacks '$step'"
done
sleeps=$(trace_sleeps)
[ "$sleeps" = "2000 3000 500 500 500" ] && pass "waits $sleeps" || fail "waits were '$sleeps'"
if ip -n "$DEV_NS" neigh show "$LOOP_PEER_ADDR" | grep -q .; then
  fail "the static ARP entry of $LOOP_PEER_ADDR was left behind"
else
  pass "ARP entry removed"
fi

# 100 Mb/s: PHY 16 confirms, the gigabit registers stay untouched.
new_state "$RFE"
run_cli -L -l 100fd
expected=$(printf 'Loopback Test Passed\n%.0s' 1 2 3)
[ "$(body)" = "$expected" ] && [ "$CODE" -eq 0 ] && pass "100fd passed" ||
  { fail "100fd: exit $CODE, output:"; printf '%s\n' "$OUT"; }
requests=$(trace_requests)
printf '%s\n' "$requests" | grep -qx "READ_PHY 16 " && pass "100fd: PHY 16 read" || fail "100fd: no PHY 16"
printf '%s\n' "$requests" | grep -Eq "^WRITE_PHY (18|24) " && fail "100fd wrote PHY 18/24"

# A mode the loopback does not run at: refused before the loopback stage
# touches the device (the chip identification is the only request).
new_state "$RFE"
run_cli -L -l 10hd
[ "$(body)" = "ERROR: Please set the loopback link to 100fd or 1000fd" ] && [ "$CODE" -eq 8 ] &&
  pass "10hd refused, exit 8" || { fail "10hd: exit $CODE, output:"; printf '%s\n' "$OUT"; }
others=$(trace_requests | grep -E "^(SET_LINK_MODE|READ_PHY|WRITE_PHY|READ_REGISTER 176|WRITE_REGISTER 176) ")
[ -z "$others" ] && pass "10hd: no device access" || fail "10hd: requests sent: $others"

# Plug out: the datagram never comes back.
plug_out
new_state "$RFE"
run_cli -L
expected=$(printf 'ERROR: Loopback Test Failed\n%.0s' 1 2 3)
[ "$(body)" = "$expected" ] && [ "$CODE" -eq 8 ] && pass "unplugged: failed, exit 8" ||
  { fail "unplugged: exit $CODE, output:"; printf '%s\n' "$OUT"; }
rfe=$(state_register 0xB0)
[ "$rfe" = "0x00000402" ] && pass "unplugged: ETH_RFE_CTL restored" || fail "unplugged: ETH_RFE_CTL $rfe"
finish
