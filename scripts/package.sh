#!/usr/bin/env bash
# Builds the Debian package of the service, build-package/localservice_VERSION_ARCH.deb, with only what
# building and running needs plus dpkg-dev (scripts/packages-package.txt). The version is the one of
# project() in CMakeLists.txt. Prints the package's path on standard output, and its progress on
# standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2
./scripts/deps.sh package
dir=build-package
# Dates inside the package (the change log's) are the last commit's, so a commit always gives the same.
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH
# Installing must not build the tests: only what the package holds is built.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DLS_BENCH=OFF \
    -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$dir" -j "$(nproc)" --target ls_package_files
rm -f "$dir"/localservice_*.deb
(cd "$dir" && cpack -G DEB >cpack.log 2>&1) || { tail -n 30 "$dir/cpack.log" >&2; exit 1; }
deb=$(ls "$dir"/localservice_*.deb)
echo "package: built $deb"
echo "$deb" >&3
