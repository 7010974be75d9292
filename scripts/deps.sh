#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks: deps.sh [run|package|test]
#   run   what building and running the service needs (scripts/packages-run.txt)
#   package  that and what building the Debian package needs (scripts/packages-package.txt)
#   test  that and what the tests, benchmarks, fuzzers and the Windows check need
#         (scripts/packages-test.txt), then the npm packages of the end-to-end tests
# Quick when everything is there: it asks dpkg first and only runs apt-get for missing packages.
set -euo pipefail
cd "$(dirname "$0")/.."
purpose=${1:-test}
case "$purpose" in
    run)  lists=(scripts/packages-run.txt) ;;
    package) lists=(scripts/packages-run.txt scripts/packages-package.txt) ;;
    test) lists=(scripts/packages-run.txt scripts/packages-test.txt) ;;
    *) echo "usage: $0 [run|package|test]" >&2; exit 2 ;;
esac

# Installed packages and what they provide: a Node from another archive provides "npm", for example.
declare -A present=()
while read -r status name provides; do
    [ "$status" = ii ] || continue
    present[$name]=1
    for provided in ${provides//,/ }; do
        [[ $provided =~ ^[a-z0-9] ]] && present[$provided]=1
    done
done < <(dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Provides}\n' | sed -E 's/\([^)]*\)//g')

mapfile -t wanted < <(cat "${lists[@]}" | grep -v -E '^\s*(#|$)')
missing=()
for pkg in "${wanted[@]}"; do
    [ -n "${present[$pkg]:-}" ] || missing+=("$pkg")
done
# A certificate bundle the environment names for Node (a proxy's own CA, say) is kept for the npm step
# below: installing Debian's ca-certificates rewrites the system bundle, which may be that very file.
if [ -n "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f "$NODE_EXTRA_CA_CERTS" ]; then
    extra_ca=$(mktemp)
    trap 'rm -f "$extra_ca"' EXIT
    cp "$NODE_EXTRA_CA_CERTS" "$extra_ca"
    export NODE_EXTRA_CA_CERTS=$extra_ca
fi

if ((${#missing[@]})); then
    echo "deps: installing ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" = 0 ] || sudo_cmd=(sudo)
    # dpkg's line per package goes to a log, shown when the install fails.
    apt_log=$(mktemp)
    if ! { "${sudo_cmd[@]}" apt-get update -qq &&
        DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
            "${missing[@]}"; } >"$apt_log" 2>&1; then
        tail -n 40 "$apt_log" >&2
        rm -f "$apt_log"
        echo "deps: installing ${missing[*]} failed" >&2
        exit 1
    fi
    rm -f "$apt_log"
    echo "deps: installed"
fi

# Node packages for the end-to-end tests (real WebSocket and browser clients), installed again whenever
# the lock file differs from the one they were installed from. Engines are checked strictly, so a client
# that needs a newer Node than Debian's fails here and not in the middle of a test.
if [ "$purpose" = test ] && [ -f tests/e2e/package-lock.json ]; then
    stamp=tests/e2e/node_modules/.installed-from-package-lock.json
    if ! cmp -s tests/e2e/package-lock.json "$stamp"; then
        (cd tests/e2e && npm ci --engine-strict --no-audit --no-fund --loglevel=error)
        cp tests/e2e/package-lock.json "$stamp"
    fi
fi
