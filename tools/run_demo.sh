#!/usr/bin/env bash
# The main job of the tool against a simulated device.
set -euo pipefail
BUILD=${1:-build}
CLI=$BUILD/orn5300cli
echo "== orn5300cli -h"
"$CLI" -h || true
