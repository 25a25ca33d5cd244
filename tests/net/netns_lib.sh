# Shared by the namespace tests in tests/scripts/net_*.sh (sourced, not run).
#
# Builds two network namespaces joined by a veth pair: the "device" end
# stands for the controller's adapter (its alias is the adapter's
# description), the "peer" end for the host on the other side of the cable.
# All traffic stays inside them: 10.253.1.0/24, device 10.253.1.5, peer
# 10.253.1.1. Everything is removed on exit.

CLI=${1:?usage: $0 CLI_PATH SIM_PATH}
SIM=${2:-}
ADAPTER_ALIAS="ORN5300 USB 3.0 to Gigabit Ethernet Adapter"
DEV_ADDR=10.253.1.5
PEER_ADDR=10.253.1.1
LOOP_PEER_ADDR=10.253.1.22   # the loopback test's neighbour for DEV_ADDR
BANNER_TEXT="Command Line Utility"

FAILURES=0
DEV_NS=""
PEER_NS=""
WORK=""

skip() {
  echo "SKIP: $*"
  exit 77
}

fail() {
  echo "FAIL: $*"
  FAILURES=$((FAILURES + 1))
}

pass() { echo "ok: $*"; }

cleanup() {
  [ -n "$DEV_NS" ] && ip netns del "$DEV_NS" 2>/dev/null
  [ -n "$PEER_NS" ] && ip netns del "$PEER_NS" 2>/dev/null
  [ -n "$WORK" ] && rm -rf "$WORK"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Skips unless namespaces, veth pairs and python3 (for reading JSON) are here.
require_namespaces() {
  [ -x "$CLI" ] || skip "orn5300cli not found at $CLI"
  command -v ip >/dev/null 2>&1 || skip "ip (iproute2) is not installed"
  command -v python3 >/dev/null 2>&1 || skip "python3 is needed to read the simulator's JSON"
  [ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
  local tag="orn$$-${RANDOM}"
  DEV_NS="${tag}-dev"
  PEER_NS="${tag}-peer"
  ip netns add "$DEV_NS" 2>/dev/null || { DEV_NS=""; skip "cannot create network namespaces"; }
  ip netns add "$PEER_NS" 2>/dev/null || { PEER_NS=""; skip "cannot create network namespaces"; }
  ip link add vd netns "$DEV_NS" type veth peer name vp netns "$PEER_NS" 2>/dev/null ||
    skip "cannot create a veth pair between namespaces"
  WORK=$(mktemp -d)
}

# Addresses, links up, IPv6 off (no router or neighbour chatter on the wire).
# $1: the alias of the device end ("" for none).
setup_link() {
  local alias=$1
  local ns
  for ns in "$DEV_NS" "$PEER_NS"; do
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 >/dev/null 2>&1
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.default.disable_ipv6=1 >/dev/null 2>&1
    ip -n "$ns" link set lo up
  done
  if [ -n "$alias" ]; then ip -n "$DEV_NS" link set dev vd alias "$alias"; fi
  ip -n "$DEV_NS" addr add "$DEV_ADDR/24" dev vd
  ip -n "$PEER_NS" addr add "$PEER_ADDR/24" dev vp
  ip -n "$DEV_NS" link set vd up
  ip -n "$PEER_NS" link set vp up
  local i
  for i in $(seq 50); do
    ip -n "$DEV_NS" link show vd | grep -q "LOWER_UP" && return 0
    sleep 0.1
  done
  skip "the veth pair did not come up"
}

# Emulates a loopback plug: whatever reaches the peer end goes straight back.
plug_in() {
  ip netns exec "$PEER_NS" tc qdisc add dev vp clsact || skip "tc clsact is not available"
  ip netns exec "$PEER_NS" tc filter add dev vp ingress protocol all prio 1 u32 match u32 0 0 \
    action mirred egress redirect dev vp || skip "tc mirred redirect is not available"
}

plug_out() { ip netns exec "$PEER_NS" tc qdisc del dev vp clsact; }

# A new simulator state file with the given JSON.
new_state() {
  STATE="$WORK/state-$RANDOM.json"
  TRACE="$WORK/trace-$RANDOM.jsonl"
  local json='{}'
  [ -n "${1:-}" ] && json=$1
  printf '%s\n' "$json" >"$STATE"
  : >"$TRACE"
}

# Runs the CLI in the device namespace against the simulator: sets OUT and CODE.
run_cli() {
  OUT=$(ip netns exec "$DEV_NS" env ORN5300_SIM="$STATE" ORN5300_SIM_TRACE="$TRACE" \
    "$CLI" "$@" 2>"$WORK/stderr")
  CODE=$?
}

# Skips when the run shows that a piece this test needs has not been built yet.
require_features() {
  local missing
  missing=$(printf '%s\n' "$OUT" | grep -m1 "is not supported by this build")
  [ -n "$missing" ] && skip "orn5300cli lacks a feature: $missing"
  if [ -z "$(body)" ] && printf '%s' "$OUT" | grep -q "$BANNER_TEXT"; then
    skip "orn5300cli prints only its banner: the command line has not landed"
  fi
  if [ ! -s "$TRACE" ]; then
    skip "the simulator wrote no trace: it has not landed"
  fi
  return 0
}

# The output behind the banner (which ends with its "(Built at" line),
# leading blank lines dropped.
body() {
  if printf '%s\n' "$OUT" | grep -q "^ (Built at"; then
    printf '%s\n' "$OUT" | sed '1,/^ (Built at/d' | sed '/./,$!d'
  else
    printf '%s\n' "$OUT" | grep -v "$BANNER_TEXT" | sed '/./,$!d'
  fi
}

count_lines() { printf '%s\n' "$OUT" | grep -cF -- "$1"; }

# Trace helpers (python3 reads the JSON Lines).
trace_sleeps() {
  python3 -c '
import json, sys
print(" ".join(str(e["sleep_ms"]) for e in map(json.loads, open(sys.argv[1])) if "sleep_ms" in e))
' "$TRACE"
}

# "OP PARAM DATA" per request, PARAM as a decimal number.
trace_requests() {
  python3 -c '
import json, sys
for e in map(json.loads, open(sys.argv[1])):
    if "op" in e:
        p = e.get("param", 0)
        p = int(p, 0) if isinstance(p, str) else p
        print(e["op"], p, e.get("data", ""))
' "$TRACE"
}

# Register value from the state file, as 0x%08X ("none" when not listed).
state_register() {
  python3 -c '
import json, sys
state = json.load(open(sys.argv[1]))
want = int(sys.argv[2], 0)
for k, v in state.get("registers", {}).items():
    if int(k, 0) == want:
        print("0x%08X" % (int(v, 0) if isinstance(v, str) else v))
        break
else:
    print("none")
' "$STATE" "$1"
}

tx_packets() { ip -n "$DEV_NS" -s link show vd | awk '/TX:/{getline; print $2; exit}'; }

finish() {
  if [ "$FAILURES" -ne 0 ]; then
    echo "$FAILURES check(s) failed"
    exit 1
  fi
  echo "all checks passed"
  exit 0
}
