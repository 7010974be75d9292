#!/usr/bin/env bash
# Checks the Debian package as a user meets it: check-package.sh --throwaway-root
# Meant for a throwaway Debian 12 root (.ci/run runs it in one): it removes the build tools and installs
# and removes the package on the machine it runs on. In order:
#  - builds the package (scripts/package.sh); lintian finds no error; its dependencies name no -dev package;
#  - removes what building brought in, then installs the package with apt-get from the file: apt pulls
#    Qt's and FFmpeg's runtime packages and no -dev package; the stand-in libraries are found through the
#    run path only;
#  - two unprivileged users, each with a configuration in ~/.config/LocalService naming a port, start
#    /usr/bin/LocalService at once: each runs as its user, logs the file it read, and listens on that port;
#  - removal ends both services and takes the package's files (the autostart entry, a configuration
#    file, stays inert until purge); purge takes the rest; the users' own files stay.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${1:-}" = --throwaway-root ] ||
    { echo "usage: $0 --throwaway-root (it removes this machine's build tools)" >&2; exit 2; }
[ "$(id -u)" = 0 ] || { echo "check-package: needs root" >&2; exit 2; }
export DEBIAN_FRONTEND=noninteractive
fail() { echo "check-package: $*" >&2; exit 1; }
apt_quiet() { # apt-get's lines go to a log, shown when it fails
    local log
    log=$(mktemp)
    apt-get -y -qq "$@" >"$log" 2>&1 || { tail -n 30 "$log" >&2; rm -f "$log"; fail "apt-get $* failed"; }
    rm -f "$log"
}
installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }
installed_dev_packages() { dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | awk '$1 == "ii" && $2 ~ /-dev$/ { print $2 }' | sort; }

deb=$(./scripts/package.sh)
[ -f "$deb" ] || fail "package.sh made no package"

echo "check-package: lintian"
apt_quiet install --no-install-recommends lintian
lintian --fail-on error "$deb" || fail "lintian found errors"

depends=$(dpkg-deb -f "$deb" Depends)
echo "check-package: Depends: $depends"
dev=$(tr ',|' '\n\n' <<<"$depends" | awk '{ print $1 }' | grep -E -- '-dev$' || true)
[ -z "$dev" ] || fail "the package depends on development packages: $dev"

echo "check-package: removing what building needed"
mapfile -t build_packages < <(cat scripts/packages-run.txt scripts/packages-package.txt | grep -v -E '^\s*(#|$)')
apt_quiet purge "${build_packages[@]}" lintian
apt_quiet autoremove --purge
! installed libqt5core5a || fail "Qt's runtime is still installed after removing the build tools"
dev_before=$(installed_dev_packages)

echo "check-package: apt-get install ./$deb"
apt_quiet install "./$deb"
for runtime in libqt5widgets5 libavcodec59 libavformat59 libswscale6; do
    installed "$runtime" || fail "installing the package did not pull $runtime"
done
new_dev=$(comm -13 <(echo "$dev_before") <(installed_dev_packages) | tr '\n' ' ')
[ -z "${new_dev// /}" ] || fail "installing the package pulled development packages: $new_dev"
ldd /usr/bin/LocalService | grep -E 'libvideo_control|libslf|not found'
ldd /usr/bin/LocalService | grep -q 'not found' && fail "a library of the service is not found"
ldd /usr/bin/LocalService | grep -q 'lib/x86_64-linux-gnu/localservice/libvideo_control.so' ||
    fail "the video library is not taken from the package's private folder"
! ldconfig -p | grep -E 'libvideo_control|libslf' || fail "a stand-in library is on the system's library path"
mapfile -t package_files < <(dpkg -L localservice)
conffile=/etc/xdg/autostart/localservice.desktop

takes_connections() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# A port below the ephemeral range (from 32768) that no socket of this machine uses, listening or not.
free_port() {
    local candidate
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 12000))
        awk -v port="$(printf '%04X' "$candidate")" 'FNR > 1 && split($2, local, ":") && local[2] == port { found = 1 }
            END { exit !found }' /proc/net/tcp /proc/net/tcp6 || { echo "$candidate"; return; }
    done
    fail "no free port found"
}
pids=()
stop_services() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap stop_services EXIT

# Two users at once, both on the default instance name: each user has an instance of their own.
users=(lsuser1 lsuser2)
ports=()
for user in "${users[@]}"; do
    id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
    home=/home/$user
    port=$(free_port)
    ports+=("$port")
    config=$home/.config/LocalService/LocalServiceConfig.json
    runuser -u "$user" -- mkdir -p "$(dirname "$config")"
    printf '{ "ServicePortStart": %d, "ServicePortEnd": %d }\n' "$port" $((port + 1)) |
        runuser -u "$user" -- tee "$config" >/dev/null
    (cd "$home" && exec setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i HOME="$home" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen /usr/bin/LocalService \
        >"/tmp/check-package-$user.log" 2>&1) &
    pids+=($!)
done
for i in "${!users[@]}"; do
    user=${users[i]} port=${ports[i]} pid=${pids[i]}
    deadline=$((SECONDS + 60))
    until takes_connections "$port"; do
        kill -0 "$pid" 2>/dev/null && ((SECONDS < deadline)) ||
            { cat "/tmp/check-package-$user.log" >&2; fail "the service of $user does not listen on $port"; }
        sleep 0.2
    done
    [ "$(stat -c %U "/proc/$pid")" = "$user" ] || fail "the service of $user does not run as $user"
    grep -F "configuration file: /home/$user/.config/LocalService/LocalServiceConfig.json" \
        "/tmp/check-package-$user.log" || fail "the service of $user does not say which file it read"
    echo "check-package: $user's service listens on 127.0.0.1:$port"
done

echo "check-package: apt-get remove localservice"
apt_quiet remove localservice
for i in "${!users[@]}"; do
    ! kill -0 "${pids[i]}" 2>/dev/null || fail "the service of ${users[i]} still runs after removal"
    ! takes_connections "${ports[i]}" || fail "port ${ports[i]} still takes connections after removal"
    [ -f "/home/${users[i]}/.config/LocalService/LocalServiceConfig.json" ] || fail "removal took a user's file"
done
left_over() {
    local path
    for path in "${package_files[@]}"; do
        [ -d "$path" ] && [ ! -L "$path" ] && continue
        [ -e "$path" ] || [ -L "$path" ] && echo "$path"
    done
    for path in /usr/lib/x86_64-linux-gnu/localservice /usr/share/doc/localservice; do
        [ -e "$path" ] && echo "$path"
    done
    return 0
}
[ "$(left_over)" = "$conffile" ] || fail "left after removal: $(left_over | tr '\n' ' ')"
apt_quiet purge localservice
[ -z "$(left_over)" ] || fail "left after purge: $(left_over | tr '\n' ' ')"
echo "check-package: removal ended the services and left nothing of the package; the users' files stay"
