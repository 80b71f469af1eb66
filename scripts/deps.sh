#!/usr/bin/env bash
# Installs the Debian packages the tool needs to build, run and test, when they are missing.
# Usage: scripts/deps.sh   (as root it uses apt-get directly, otherwise sudo)
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    qt6-base-dev qt6-webengine-dev qt6-multimedia-dev qt6-5compat-dev qt6-svg-dev libgl-dev
    qt6-qpa-plugins
    # The journal's stores (SQLite through Qt's driver, PostgreSQL through libpq); the
    # PostgreSQL server is started by the tests and benchmarks.
    libqt6sql6-sqlite libpq-dev postgresql
    # Liberation Mono and Sans stand in for Courier New and MS Sans Serif; WenQuanYi draws Chinese.
    fonts-liberation fonts-wqy-zenhei
    # A virtual display and a screenshot tool for machines without a display.
    xvfb xauth x11-utils imagemagick xdotool
    # The screen-reader test: a private D-Bus session, the AT-SPI bus and a Python AT-SPI client.
    dbus-daemon dbus-bin at-spi2-core python3-gi gir1.2-atspi-2.0
    # A desktop platform theme, to check and picture the window under one.
    qt6ct
    # Validates the desktop entry in the installation check.
    desktop-file-utils
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
elif command -v sudo >/dev/null 2>&1; then
    SUDO=(sudo)
else
    echo "Missing packages: ${missing[*]}" >&2
    echo "Installing them needs root and there is no sudo here: run 'bash scripts/deps.sh' as" >&2
    echo "root once, then this command again." >&2
    exit 1
fi
echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -q
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
