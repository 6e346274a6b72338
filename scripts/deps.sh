#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need; packages already present are left alone.
set -euo pipefail
packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools libqt6network6 libqt6printsupport6 qt6-qpa-plugins
    libsqlite3-dev sqlite3
    libgtest-dev libgmock-dev libbenchmark-dev clang-format
    openssl fonts-dejavu-core qt6-translations-l10n
    dpkg-dev file desktop-file-utils appstream librsvg2-bin
    dbus-daemon
    qt6-charts-dev libqt6opengl6-dev
    libcurl4-openssl-dev libssl-dev libzstd-dev python3-html5lib
)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
