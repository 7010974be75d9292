#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building and testing LocalService.
# Quick when everything is there: it asks dpkg first and only runs apt-get for missing packages.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' scripts/packages.txt)
missing=()
for pkg in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
if ((${#missing[@]})); then
    echo "deps: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Node packages for the end-to-end tests (real WebSocket and browser clients), when the project has them.
if [ -f tests/e2e/package.json ] && [ ! -d tests/e2e/node_modules ]; then
    (cd tests/e2e && npm ci --no-audit --no-fund --loglevel=error)
fi
