#!/usr/bin/env bash
# Installs the build and test tools that are missing; quiet when everything is there.
# --checks: also the second compiler and the static analysis of scripts/check.sh.
set -euo pipefail
# libwine-dev brings the platform IDL files that the module's own IDL imports (widl is in mingw-w64-tools);
# nsis brings makensis, which builds the Windows installer; pulseaudio and pulseaudio-utils
# (parecord, pactl) are the sound server that the play test records from.
packages=(wine64 g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
          cmake ninja-build xvfb xauth googletest mingw-w64-tools libwine-dev
          x11-apps imagemagick nsis pulseaudio pulseaudio-utils)
# clang and lld build the product a second time; clang-tidy brings run-clang-tidy.
if [ "${1:-}" = --checks ]; then
    packages+=(clang lld clang-tidy)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "setup: installing ${missing[*]}"
SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
