#!/usr/bin/env bash
# No adapter whose description names the controller: both stages look for it
# twenty times, one second apart, then give up with their exit code.
. "$(dirname "$0")/../net/netns_lib.sh"
require_namespaces
setup_link "Some Other Ethernet Adapter"

twenty=$(printf '1000 %.0s' $(seq 20)); twenty=${twenty% }

new_state
run_cli -p "$PEER_ADDR"
require_features
if printf '%s\n' "$OUT" | grep -q "^Link is down" && ! trace_requests | grep -q "^READ_PHY"; then
  skip "the link check reads no PHY register: LanPhyGetLinkState has not landed"
fi
if [ "$(body)" = "ERROR: Src IP not enabled" ] && [ "$CODE" -eq 7 ]; then
  pass "ping stage: Src IP not enabled, exit 7"
else
  fail "ping stage: exit $CODE, output:"; printf '%s\n' "$OUT"
fi
sleeps=$(trace_sleeps)
[ "$sleeps" = "$twenty" ] && pass "ping stage: twenty attempts" || fail "ping stage waits '$sleeps'"

new_state
run_cli -L
if [ "$(body)" = "ERROR: Src IP not enabled" ] && [ "$CODE" -eq 8 ]; then
  pass "loopback stage: Src IP not enabled, exit 8"
else
  fail "loopback stage: exit $CODE, output:"; printf '%s\n' "$OUT"
fi
sleeps=$(trace_sleeps)
[ "$sleeps" = "2000 $twenty" ] && pass "loopback stage: twenty attempts" ||
  fail "loopback stage waits '$sleeps'"
trace_requests | grep -q "^READ_REGISTER 176 " && fail "ETH_RFE_CTL touched without an adapter"
finish
