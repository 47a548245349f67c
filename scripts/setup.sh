#!/usr/bin/env bash
# Installs what building and testing Quillsever needs on Debian, when it is missing.
set -euo pipefail

packages=(build-essential cmake pkg-config libqpdf-dev zlib1g-dev qpdf libpoppler-cpp-dev
          libgoogle-perftools-dev libgtest-dev
          poppler-utils qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-pdf-dev libgl-dev xvfb xauth xdotool
          imagemagick dbus clang libclang-rt-14-dev
          scdoc parallel desktop-file-utils librsvg2-bin bash-completion dpkg-dev groff-base)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -q
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
