#!/usr/bin/env bash
# Installs what running needs when it is missing, builds the service, and starts it on its defaults.
# Without a display it runs headless (Qt's offscreen platform, the in-memory desktop).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh run
./scripts/build.sh run
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
echo "demo page: python3 -m http.server 8080 --bind 127.0.0.1 (in $PWD), then open http://localhost:8080/web/demo/" >&2
exec build/LocalService "$@"
