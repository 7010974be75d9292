#!/usr/bin/env bash
# Checks the README's run command as a new user meets it: runs ./scripts/start.sh with the service on a
# free port, waits until that port takes connections, stops the service, and fails when the run command
# installed any of the test tools (they belong to ./scripts/test.sh only).
set -euo pipefail
cd "$(dirname "$0")/.."

test_only=(nodejs npm chromium wine64 xvfb clang g++-mingw-w64-x86-64 libbenchmark-dev)
installed_test_tools() {
    local pkg
    for pkg in "${test_only[@]}"; do
        dpkg-query -W -f='${db:Status-Abbrev}' "$pkg" 2>/dev/null | grep -q '^ii' && echo "$pkg"
    done
    return 0
}
before=$(installed_test_tools)

takes_connections() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 30000))
    takes_connections "$candidate" || { port=$candidate; break; }
done
[ -n "$port" ] || { echo "check-start: no free port found" >&2; exit 1; }
mkdir -p build
config=build/LocalServiceConfig.json
saved=
[ -f "$config" ] && saved=$(cat "$config")
printf '{ "ServicePortStart": %d, "ServicePortEnd": %d }\n' "$port" $((port + 1)) >"$config"

log=$(mktemp)
setsid ./scripts/start.sh >"$log" 2>&1 &
pid=$!
finish() {
    kill -- -"$pid" 2>/dev/null && { wait "$pid" 2>/dev/null || true; }
    if [ -n "$saved" ]; then printf '%s\n' "$saved" >"$config"; else rm -f "$config"; fi
    rm -f "$log"
}
trap finish EXIT

# The first run installs packages and builds, so the wait is long; a start.sh that ends has failed.
deadline=$((SECONDS + 1800))
until takes_connections "$port"; do
    if ! kill -0 "$pid" 2>/dev/null || ((SECONDS > deadline)); then
        tail -n 30 "$log" >&2
        echo "check-start: start.sh did not bring the service up on port $port" >&2
        exit 1
    fi
    sleep 1
done
echo "check-start: the service took a connection on port $port"

# Its start-up line says where it listens (written right after the listener took the port).
for _ in $(seq 20); do
    grep -q "listening on .*:$port " "$log" && break
    sleep 0.5
done
grep "listening on .*:$port " "$log" >&2 || {
    tail -n 30 "$log" >&2
    echo "check-start: no start-up line naming port $port" >&2
    exit 1
}

added=$(comm -13 <(echo "$before") <(installed_test_tools) | tr '\n' ' ')
if [ -n "${added// /}" ]; then
    echo "check-start: start.sh installed test tools: $added" >&2
    exit 1
fi
echo "check-start: start.sh installed no test tool"
