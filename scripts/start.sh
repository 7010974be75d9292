#!/usr/bin/env bash
# Installs what running needs when it is missing, builds the service, and starts it on its defaults.
# The service chooses its desktop itself and names it in its first line: the X display when one
# answers (XWayland's too), otherwise headless (Qt's offscreen platform, the in-memory desktop), also
# under a Wayland session.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh run
./scripts/build.sh run
echo "demo page: python3 -m http.server 8080 --bind 127.0.0.1 (in $PWD), then open http://localhost:8080/web/demo/" >&2
exec build/LocalService "$@"
