#!/usr/bin/env bash
# scripts/sign.sh with a throw-away certificate authority and code-signing
# certificate made here with openssl (no time stamp: no network):
# - signed with a PEM pair, and with a password-protected PKCS#12 file,
#   osslsigncode verify accepts the DLL against that authority, and refuses
#   it against another one and once one byte of it is changed;
# - without a certificate, or with a wrong password, sign.sh stops with a
#   message and leaves the file as it was;
# - scripts/compare-release.sh finds the signed file the same as the build,
#   and finds the changed byte.
# Leaves the DLL signed with the PEM pair in WORK-DIR/VINSTALLDLL.dll, for
# test_signed to load under Wine; given the build's folder of setup programs,
# signs and verifies copies of them too, in WORK-DIR/installer beside the
# sample product they install, for test_setup_signed to run.
#
#   tests/signing.sh DLL WORK-DIR [SETUP-DIR]
set -euo pipefail
dll=$(realpath "$1") work="$2" setups="${3:+$(realpath "$3")}"
root="$(cd "$(dirname "$0")/.." && pwd)"
sign="$root/scripts/sign.sh"
rm -rf "$work"
mkdir -p "$work/keys"
cd "$work"

failures=0
pass() { echo "ok   $*"; }
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

# Authorities and signer, valid for a day.
authority() {  # NAME
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=$1" -keyout "keys/$1.key" -out "keys/$1.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
}
authority "Throw-away test authority"
authority "Another authority"
ca="keys/Throw-away test authority"
openssl req -newkey rsa:2048 -nodes -subj "/CN=VINSTALLDLL test signer" -keyout keys/signer.key \
  -out keys/signer.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >keys/signer.ext
openssl x509 -req -days 1 -in keys/signer.csr -CA "$ca.pem" -CAkey "$ca.key" -CAcreateserial \
  -extfile keys/signer.ext -out keys/signer.pem 2>/dev/null
echo "a password for the test" >keys/password
openssl pkcs12 -export -in keys/signer.pem -inkey keys/signer.key -certfile "$ca.pem" \
  -passout file:keys/password -out keys/signer.p12

verify() {  # FILE AUTHORITY: osslsigncode's status, its output in FILE.verify
  osslsigncode verify -CAfile "$2" -in "$1" >"$1.verify" 2>&1
}

# Each way of giving the certificate; the PEM-signed copy is kept.
for way in "pem|--cert keys/signer.pem --key keys/signer.key" \
           "pkcs12|--pkcs12 keys/signer.p12 --password-file keys/password"; do
  IFS='|' read -r name options <<<"$way"
  mkdir -p "$name"
  cp "$dll" "$name/VINSTALLDLL.dll"
  # shellcheck disable=SC2086
  if ! "$sign" $options "$name/VINSTALLDLL.dll"; then
    fail "$name: sign.sh failed"
  elif verify "$name/VINSTALLDLL.dll" "$ca.pem" && grep -q "Signature verification: ok" "$name/VINSTALLDLL.dll.verify"; then
    pass "$name: signed, and verified against the test authority"
  else
    fail "$name: the signed DLL does not verify against the test authority:"
    sed 's/^/    /' "$name/VINSTALLDLL.dll.verify"
  fi
done
cp pem/VINSTALLDLL.dll VINSTALLDLL.dll

if verify VINSTALLDLL.dll "keys/Another authority.pem"; then
  fail "the signed DLL verifies against an authority that did not issue its certificate"
else
  pass "refused against another authority"
fi

# One byte of the code changed after signing.
text=$(x86_64-w64-mingw32-objdump -h VINSTALLDLL.dll | awk '$2 == ".text" { print $6 }')
offset=$((0x$text + 32))
cp VINSTALLDLL.dll changed.dll
byte=$(od -An -tu1 -j"$offset" -N1 changed.dll | tr -d ' ')
printf "\\$(printf %o $((byte ^ 1)))" | dd of=changed.dll bs=1 seek="$offset" conv=notrunc status=none
if verify changed.dll "$ca.pem"; then
  fail "verification accepts the signed DLL with the byte at 0x$(printf %x $offset) changed"
else
  pass "refused with one byte changed (at 0x$(printf %x $offset))"
fi

# Refusals leave the file as it was.
cp "$dll" unsigned.dll
status=0
message=$("$sign" unsigned.dll 2>&1) || status=$?
if [ "$status" != 0 ] && grep -q -- "--pkcs12" <<<"$message" && grep -q -- "--cert" <<<"$message" &&
   cmp -s "$dll" unsigned.dll; then
  pass "no certificate: stops (exit $status) saying how to give one: $(head -1 <<<"$message")"
else
  fail "no certificate: exit $status, file $(cmp -s "$dll" unsigned.dll && echo unchanged || echo changed), message:"
  sed 's/^/    /' <<<"$message"
fi
echo "not the password" >keys/wrong
status=0
message=$("$sign" --pkcs12 keys/signer.p12 --password-file keys/wrong unsigned.dll 2>&1) || status=$?
if [ "$status" != 0 ] && cmp -s "$dll" unsigned.dll && [ ! -e unsigned.dll.signing ]; then
  pass "wrong password: stops (exit $status), the file unchanged: $(tail -1 <<<"$message")"
else
  fail "wrong password: exit $status, file $(cmp -s "$dll" unsigned.dll && echo unchanged || echo changed)"
fi

# The setup programs: the signature appended to an NSIS program must leave
# its own integrity check content (test_setup_signed runs them).
if [ -n "$setups" ]; then
  mkdir -p installer
  cp -R "$setups/product" "$setups/VelloranSetup.exe" "$setups/VelloranUpdate.exe" installer/
  for setup in installer/VelloranSetup.exe installer/VelloranUpdate.exe; do
    if "$sign" --cert keys/signer.pem --key keys/signer.key "$setup" && verify "$setup" "$ca.pem"; then
      pass "$setup: signed and verified"
    else
      fail "$setup: not signed, or the signature does not verify"
    fi
  done
fi

# A shipped signed file against its rebuild.
mkdir -p shipped rebuilt
cp "$dll" rebuilt/VINSTALLDLL.dll
cp VINSTALLDLL.dll shipped/
if report=$("$root/scripts/compare-release.sh" shipped rebuilt); then
  pass "compare-release: the signed DLL is the build plus its signature"
else
  fail "compare-release finds the signed DLL different from the build:"
  sed 's/^/    /' <<<"$report"
fi
cp changed.dll shipped/VINSTALLDLL.dll
if report=$("$root/scripts/compare-release.sh" shipped rebuilt); then
  fail "compare-release finds no difference in a signed DLL with a changed byte"
elif grep -q "^first difference at offset 0x$(printf %x $offset): section .text" <<<"$report"; then
  pass "compare-release names the changed byte: $(grep '^first difference' <<<"$report")"
else
  fail "compare-release does not name the changed byte at 0x$(printf %x $offset) in .text:"
  sed 's/^/    /' <<<"$report"
fi
exit $((failures > 0))
