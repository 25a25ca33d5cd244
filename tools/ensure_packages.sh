#!/usr/bin/env bash
# Makes sure the Debian packages named on the command line are installed.
# As root, missing ones are installed; otherwise the exact apt-get line is
# printed and the script fails, so that nothing half-configured goes on.
set -euo pipefail
missing=()
for pkg in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "Missing Debian packages. Install them with:"
  echo "  sudo apt-get install -y ${missing[*]}"
  exit 1
fi
