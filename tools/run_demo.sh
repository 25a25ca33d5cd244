#!/usr/bin/env bash
# The main job of the tool against a simulated device: a production line
# that programs two ORN5300 devices in a row from one INI file, each with
# the next MAC address and serial number, then reads the EEPROM back and
# decodes it into the INI file that programs it.
# Argument: the build folder.
set -euo pipefail

BUILD=$(cd "${1:-build}" && pwd)
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CLI=$BUILD/orn5300cli
SIM=$BUILD/orn5300sim
IMG=$BUILD/orn5300img
INI_SOURCE=$ROOT/examples/orn5300.ini

for tool in "$CLI" "$SIM" "$IMG"; do
  [ -x "$tool" ] || { echo "missing $tool: build first" >&2; exit 1; }
done
[ -f "$INI_SOURCE" ] || { echo "missing $INI_SOURCE" >&2; exit 1; }

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# Prints a command as a user would type it, then runs it.
show() {
  echo
  echo "\$ $*"
  "$@"
}

# The identity the INI file names for the next device.
identity() {
  grep -E '^[[:space:]]*(CurrentMacAddress|CurrentSerialNumber)' orn5300.ini | sed 's/^/    /'
}

export ORN5300_SIM=$WORK/device.json
# Every programming run appends its production record to this log.
export ORN5300_LOG=$WORK/production.csv

show "$SIM" init "$ORN5300_SIM" --chip ORN5300
show cp "$INI_SOURCE" orn5300.ini

for device in 1 2; do
  echo
  echo "== device $device: program from the INI file, then step the identity"
  identity
  show "$CLI" -w -i orn5300.ini -N
done

echo
echo "== the INI file now names the next device"
identity

echo
echo "== the production record: one line per programmed unit"
show cat production.csv

echo
echo "== an INI file restored from a backup would program device 1's MAC address again: refused"
show cp "$INI_SOURCE" restored.ini
show "$CLI" -w -i restored.ini -N || echo "(exit code $?)"

echo
echo "== read the EEPROM back and show what was programmed"
show "$CLI" -r
show ls -l orn5300-512.bin
show "$SIM" show "$ORN5300_SIM" eeprom

echo
echo "== decode the EEPROM (read-only) back into the INI file that programs it"
show "$IMG" decode device
