#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, once: Debian's
# MinGW-w64 cross compilers for i686 (the shipped DLL) and x86_64 (the same
# sources for machines that cannot run 32-bit code), 32-bit and 64-bit Wine,
# CMake and Ninja, clang and cppcheck for the source checks, NSIS for the
# reference setup program, wixl for the reference Windows Installer package
# (and msitools, whose msibuild and msiinfo finish it),
# osslsigncode and openssl to sign a release (and to
# make the tests' throw-away certificates), and Xvfb, xdotool and ImageMagick
# for the picture of the dialog; and Inno Setup's compiler (npm package
# innosetup, pinned) for the Inno Setup script. Quick when all is in place.
set -euo pipefail

packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64 cmake ninja-build clang cppcheck
          nsis wixl msitools osslsigncode openssl xvfb xdotool imagemagick)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Inno Setup 6.4.1 from the npm registry: only its files, unpacked into a
# fixed folder (no node project, nothing of the package is run here). The
# build runs its ISCC.exe under 32-bit Wine; the tarball is checked against
# the digest it had when it was pinned.
inno_dir=/opt/innosetup-6.4.1
inno_sha512=Bh/dNlyyFsFKBGoTf19n1msPnm4Njfb0CWVirw2CV1MSJXYy0ajRI+xjo/Yr9DtZFLLafhnwm1ZsxTu309F8lQ==
if [ ! -f "$inno_dir/bin/ISCC.exe" ]; then
  if ! command -v npm >/dev/null; then
    echo "setup: npm not found: Inno Setup is not installed and its test will be skipped"
    exit 0
  fi
  echo "setup: installing Inno Setup 6.4.1 (npm package innosetup) into $inno_dir"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent innosetup@6.4.1 >/dev/null)
  if [ "$(openssl dgst -sha512 -binary "$work/innosetup-6.4.1.tgz" | base64 -w0)" != "$inno_sha512" ]; then
    echo "setup: innosetup-6.4.1.tgz does not have the pinned digest" >&2
    exit 1
  fi
  tar -xzf "$work/innosetup-6.4.1.tgz" -C "$work"
  $SUDO rm -rf "$inno_dir.new"
  $SUDO mkdir -p "$inno_dir.new"
  $SUDO cp -R "$work/package/." "$inno_dir.new/"
  $SUDO rm -rf "$inno_dir"
  $SUDO mv -T "$inno_dir.new" "$inno_dir"
fi
