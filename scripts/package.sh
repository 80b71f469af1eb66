#!/usr/bin/env bash
# Builds a Release of the tool in build-package/ and makes the Debian package from it.
# Usage: scripts/package.sh   (prints the path of the .deb on its last line)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

# dpkg-shlibdeps (dpkg-dev) works out the library dependencies; CPack finds the programs with file;
# lintian checks the package.
missing=()
for p in dpkg-dev file lintian; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing missing packages: ${missing[*]}"
    SUDO=()
    [ "$(id -u)" -eq 0 ] || SUDO=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${SUDO[@]}" apt-get update -q
    "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

BUILD_DIR=build-package BUILD_TYPE=Release scripts/build.sh -DBUILD_TESTING=OFF -DVELQA_WERROR=ON
cd build-package
rm -f ./*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log >&2; exit 1; }
deb=$(ls -1 "$PWD"/*.deb)
dpkg-deb --field "$deb" Package Version Depends
echo "$deb"
