#!/usr/bin/env bash
# Makes a release in dist/ from the checked-out commit: VINSTALLDLL.dll, the
# reference setup programs VelloranSetup.exe and VelloranUpdate.exe, the
# release settings they were built with (release-settings.cmake), RELEASE.txt
# naming the commit, the file version and the toolchain, and SHA256SUMS.
# Built in build/ with the settings of its cache (the default preset), with
# SOURCE_DATE_EPOCH, by default the commit's time, as the only time recorded.
# Signed when a certificate is given, with the options of scripts/sign.sh:
#
#   scripts/release.sh                                   unsigned
#   scripts/release.sh --pkcs12 signer.p12 [--password-file FILE] [--timestamp URL]
#   scripts/release.sh --cert signer.pem --key signer.key [--password-file FILE] [--timestamp URL]
set -euo pipefail
cd "$(dirname "$0")/.."
sign_options=("$@")

# The release names its commit: what is built must be what was committed.
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "release.sh: the working tree has changes that are not committed; commit them (or stash them) first:" >&2
  git status --short --untracked-files=no >&2
  exit 1
fi
scripts/setup.sh

cmake --preset default -DVINSTALL_SETUP_PROGRAM=ON >/dev/null
cmake --build --preset default --target VINSTALLDLL setup_programs
files=(VINSTALLDLL.dll VelloranSetup.exe VelloranUpdate.exe)
# Made in dist.partial/, which becomes dist/ once complete: a failed signing
# leaves no dist/ that could pass for a release.
rm -rf dist dist.partial
trap 'rm -rf dist.partial' EXIT
mkdir dist.partial
cp build/VINSTALLDLL.dll build/installer/VelloranSetup.exe build/installer/VelloranUpdate.exe \
   build/release-settings.cmake dist.partial/
built=$(cd dist.partial && sha256sum "${files[@]}")

signed="no"
if [ ${#sign_options[@]} -gt 0 ]; then
  scripts/sign.sh "${sign_options[@]}" "${files[@]/#/dist.partial/}"
  signed="yes, Authenticode (SHA-256), no time stamp"
  for ((i = 0; i < ${#sign_options[@]}; i++)); do
    if [ "${sign_options[$i]}" = --timestamp ]; then
      signed="yes, Authenticode (SHA-256), time-stamped by ${sign_options[$((i + 1))]}"
    fi
  done
fi

# The Debian package, and its version, behind each tool and library that
# makes the released bytes.
toolchain() {
  local gxx=i686-w64-mingw32-g++ path package seen=" "
  for path in "$(command -v $gxx)" "$($gxx -print-prog-name=cc1plus)" "$($gxx -print-prog-name=ld)" \
              "$(command -v i686-w64-mingw32-windres)" "$($gxx -print-libgcc-file-name)" \
              "$($gxx -print-file-name=libmsvcrt.a)" "$(command -v makensis)" \
              /usr/share/nsis/Stubs/zlib-x86-unicode "$(command -v cmake)" "$(command -v ninja)" \
              $([ "$signed" = no ] || command -v osslsigncode); do
    package=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1) || true
    if [ -z "$package" ]; then
      echo "  $path (not from a Debian package)"
    elif [ "${seen#* "$package" }" = "$seen" ]; then
      seen="$seen$package "
      echo "  $package $(dpkg-query -W -f='${Version}' "$package")"
    fi
  done
  echo "  ($($gxx --version | head -1); $(i686-w64-mingw32-ld --version | head -1); makensis $(makensis -VERSION))"
}

cache() { sed -n "s/^$1:[A-Z]*=//p" build/CMakeCache.txt; }
epoch=$(cat build/source-date-epoch)
version=$(cache VINSTALL_FILE_VERSION)
product=$(cache VINSTALL_PRODUCT_VERSION)
{
  echo "VINSTALLDLL $version"
  echo
  echo "Commit:            $(git rev-parse HEAD) ($(git log -1 --format=%s))"
  echo "File version:      $version (VINSTALL_FILE_VERSION)"
  echo "Product version:   ${product:-$version}"
  echo "SOURCE_DATE_EPOCH: $epoch ($(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S UTC')), the time in the files' headers"
  echo "Signed:            $signed"
  echo
  echo "Files:"
  echo "  VINSTALLDLL.dll          the library (32-bit, i686)"
  echo "  VelloranSetup.exe        the reference setup program of a Master Load release"
  echo "  VelloranUpdate.exe       the reference setup program of an Update release"
  echo "  release-settings.cmake   the release settings they were built with"
  echo "  SHA256SUMS               SHA-256 of the files as shipped"
  echo
  echo "SHA-256 as built, before any signature:"
  sed 's/^/  /' <<<"$built"
  echo
  echo "Toolchain (Debian packages):"
  toolchain
} >dist.partial/RELEASE.txt
(cd dist.partial && sha256sum "${files[@]}" release-settings.cmake RELEASE.txt >SHA256SUMS)
mv dist.partial dist

echo "== dist/ holds release $version of commit $(git rev-parse --short HEAD), signed: ${signed%%,*}"
cat dist/SHA256SUMS
