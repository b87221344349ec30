#!/usr/bin/env bash
# Signs Windows files in place with an Authenticode signature (SHA-256),
# using Debian's osslsigncode: VINSTALLDLL.dll and the reference setup
# programs, or any other PE file.
#
#   scripts/sign.sh --pkcs12 signer.p12 [--password-file FILE] [--timestamp URL] FILE...
#   scripts/sign.sh --cert signer.pem --key signer.key [--password-file FILE] [--timestamp URL] FILE...
#
#   --pkcs12 FILE         the code-signing certificate and its private key in
#                         one PKCS#12 (.p12, .pfx) file
#   --cert FILE           the code-signing certificate in PEM, followed by any
#                         intermediate certificates
#   --key FILE            its private key in PEM
#   --password-file FILE  the password of the PKCS#12 file or of the key (its
#                         first line); none when left out
#   --timestamp URL       an RFC 3161 time-stamping server, so that the
#                         signature stays valid after the certificate expires;
#                         left out, the signature carries no time stamp
set -euo pipefail

usage() {
  sed -n '/^#   scripts\/sign.sh/,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
}
pkcs12="" cert="" key="" password_file="" timestamp=""
while [ $# -gt 0 ]; do
  case "$1" in
    --pkcs12 | --cert | --key | --password-file | --timestamp)
      [ $# -ge 2 ] || { echo "sign.sh: $1 needs a value" >&2; exit 2; }
      case "$1" in
        --pkcs12) pkcs12="$2" ;;
        --cert) cert="$2" ;;
        --key) key="$2" ;;
        --password-file) password_file="$2" ;;
        --timestamp) timestamp="$2" ;;
      esac
      shift 2 ;;
    -h | --help) usage; exit 0 ;;
    --) shift; break ;;
    -*) echo "sign.sh: unknown option $1" >&2; usage; exit 2 ;;
    *) break ;;
  esac
done

signer=()
if [ -n "$pkcs12" ] && [ -z "$cert$key" ]; then
  signer=(-pkcs12 "$pkcs12")
elif [ -z "$pkcs12" ] && [ -n "$cert" ] && [ -n "$key" ]; then
  signer=(-certs "$cert" -key "$key")
else
  if [ -z "$pkcs12$cert$key" ]; then
    echo "sign.sh: no code-signing certificate given, nothing was signed." >&2
  else
    echo "sign.sh: give either --pkcs12, or --cert and --key together; nothing was signed." >&2
  fi
  echo "Give the certificate and its key as a PKCS#12 file (--pkcs12 signer.p12) or as" >&2
  echo "a PEM pair (--cert signer.pem --key signer.key), with --password-file FILE when" >&2
  echo "they are protected by a password:" >&2
  echo >&2
  usage
  exit 2
fi
for given in "$pkcs12" "$cert" "$key" "$password_file"; do
  if [ -n "$given" ] && [ ! -r "$given" ]; then
    echo "sign.sh: cannot read $given; nothing was signed." >&2
    exit 2
  fi
done
if [ $# -eq 0 ]; then
  echo "sign.sh: no file to sign given." >&2
  usage
  exit 2
fi
[ -z "$password_file" ] || signer+=(-readpass "$password_file")
[ -z "$timestamp" ] || signer+=(-ts "$timestamp")

for file in "$@"; do
  # osslsigncode writes a new file; the original is replaced only once the
  # signed one is complete.
  name=$(basename "$file")
  osslsigncode sign "${signer[@]}" -h sha256 -n "${name%.*}" -in "$file" -out "$file.signing" >/dev/null ||
    { rm -f "$file.signing"; echo "sign.sh: signing $file failed; it is left unsigned." >&2; exit 1; }
  mv "$file.signing" "$file"
  echo "signed $file"
done
