#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, once: Debian's
# MinGW-w64 cross compilers for i686 (the shipped DLL) and x86_64 (the same
# sources for machines that cannot run 32-bit code), 32-bit and 64-bit Wine,
# CMake and Ninja, clang and cppcheck for the source checks, NSIS for the
# reference setup program, wixl for the reference Windows Installer package,
# osslsigncode and openssl to sign a release (and to
# make the tests' throw-away certificates), and Xvfb, xdotool and ImageMagick
# for the picture of the dialog. Quick when all is in place.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 cmake ninja-build clang cppcheck
          nsis wixl osslsigncode openssl xvfb xdotool imagemagick)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
