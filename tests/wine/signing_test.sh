#!/usr/bin/env bash
# Signed setups, with a throw-away certificate authority made here:
#
#   signing_test.sh KELVO STUB UNINSTALLER
#
# - Each way of naming the certificate (the project's [sign] table with a
#   PKCS#12 file and a password file; the command line with a PEM
#   certificate and key; `kelvo sign` on a setup built unsigned, with the
#   password in the environment) gives a setup whose signature
#   `osslsigncode verify` accepts with that authority, and whose archive
#   kelvo list, verify and extract still read; its uninstaller is signed too.
# - A byte changed inside a signed setup's archive fails the check.
# - A wrong password, a password in the project, and a second signature fail.
# - A signed setup split into volumes: its first file verifies, and kelvo
#   verify reads every volume.
# - Under Wine, a signed setup installs, its uninstaller is still signed,
#   the log lies beside it, and the uninstaller removes everything.
# No network here: time-stamping is not tried.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
scripts="$here/../../scripts"
# shellcheck source-path=SCRIPTDIR/../../scripts source=wine-env.sh
. "$scripts/wine-env.sh"

if [ $# -ne 3 ]; then
    echo "usage: signing_test.sh KELVO STUB UNINSTALLER" >&2
    exit 2
fi
kelvo=$1 stub=$2 uninstaller=$3
fixture="$here/../fixtures/signing"
out="$KELVO_WINE_DIR/signing"
rm -rf "$out"
mkdir -p "$out/pki"
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# --- the authority and the code-signing certificate ---
pki="$out/pki"
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$pki/ca.key" -out "$pki/ca.pem" -days 2 \
    -subj "/CN=Kelvo Test Authority" -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -keyout "$pki/signer.key" -out "$pki/signer.csr" \
    -subj "/CN=Kelvo Test Publisher" 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$pki/signer.ext"
openssl x509 -req -in "$pki/signer.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" -CAcreateserial \
    -out "$pki/signer.pem" -days 2 -extfile "$pki/signer.ext" 2>/dev/null
password="kelvo test password"
printf '%s\n' "$password" >"$pki/password.txt"
openssl pkcs12 -export -in "$pki/signer.pem" -inkey "$pki/signer.key" -certfile "$pki/ca.pem" \
    -out "$pki/signer.p12" -passout "pass:$password"

# A copy of the fixture project with the [sign] table given.
project_with() {
    local name=$1 sign=$2
    mkdir -p "$out/$name"
    cp "$fixture"/* "$out/$name/"
    printf '\n%s\n' "$sign" >>"$out/$name/kelvo.toml"
}

build() {
    local name=$1
    shift
    "$kelvo" build "$out/$name/kelvo.toml" -o "$out/$name.exe" --stub "$stub" --uninstaller "$uninstaller" "$@"
}

# Its report goes to $out/NAME.verify.
signature_ok() { osslsigncode verify -CAfile "$pki/ca.pem" -in "$1" >"$out/$(basename "$1").verify" 2>&1; }
report() { tail -3 "$out/$(basename "$1").verify"; }

# The signed setup $1 passes the check, kelvo reads it whole, and the
# uninstaller inside it is signed too.
expect_signed_setup() {
    local setup=$1
    signature_ok "$setup" || fail "$setup does not verify: $(report "$setup")"
    "$kelvo" list "$setup" >"$setup.list" || fail "kelvo list cannot read $setup"
    grep -qF "readme.txt" "$setup.list" || fail "kelvo list of $setup does not show readme.txt"
    "$kelvo" verify "$setup" >/dev/null || fail "kelvo verify fails on $setup"
    rm -rf "$setup.files"
    "$kelvo" extract "$setup" -d "$setup.files" >/dev/null || fail "kelvo extract fails on $setup"
    cmp -s "$setup.files/docs/notes.txt" "$fixture/notes.txt" || fail "$setup extracts a different docs/notes.txt"
    signature_ok "$setup.files/uninstall.exe" || fail "the uninstaller inside $setup is not signed"
    "$kelvo" dump "$setup" | grep -E '"uninstallLogBeside": *true' >/dev/null || fail "$setup does not ask for the log beside the uninstaller"
}

echo "=== three ways to name the certificate"
project_with p12 "[sign]
certificate = \"pki/signer.p12\"
password-file = \"pki/password.txt\"
description = \"Kelvo Signed\"
url = \"https://example.invalid/kelvo\""
mkdir -p "$out/p12/pki" && cp "$pki/signer.p12" "$pki/password.txt" "$out/p12/pki/"
build p12 >/dev/null || fail "the build with the project's [sign] table failed"
expect_signed_setup "$out/p12.exe"
grep -qF "Kelvo Signed" "$out/p12.exe.verify" || fail "the signature does not carry the description"

project_with pem ""
build pem --certificate "$pki/signer.pem" --key "$pki/signer.key" >/dev/null ||
    fail "the build with a PEM certificate on the command line failed"
expect_signed_setup "$out/pem.exe"

project_with later ""
build later >/dev/null
signature_ok "$out/later.exe" && fail "an unsigned build passes the check"
KELVO_TEST_PASSWORD=$password "$kelvo" sign "$out/later.exe" --certificate "$pki/signer.p12" \
    --password-env KELVO_TEST_PASSWORD >/dev/null || fail "kelvo sign failed"
signature_ok "$out/later.exe" || fail "the setup signed later does not verify: $(report "$out/later.exe")"
"$kelvo" verify "$out/later.exe" >/dev/null || fail "kelvo verify fails on the setup signed later"
if KELVO_TEST_PASSWORD=$password "$kelvo" sign "$out/later.exe" --certificate "$pki/signer.p12" \
    --password-env KELVO_TEST_PASSWORD 2>"$out/again.err"; then
    fail "kelvo sign signed a signed setup again"
fi
grep -qF "signed already" "$out/again.err" || fail "signing twice does not say why: $(cat "$out/again.err")"

echo "=== a changed byte inside the archive"
cp "$out/p12.exe" "$out/changed.exe"
offset=$("$kelvo" dump "$out/changed.exe" | python3 -c 'import json,sys; print(json.load(sys.stdin)["fileData"]["start"] + 8)')
python3 - "$out/changed.exe" "$offset" <<'EOF'
import sys
path, offset = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(offset)
    byte = f.read(1)
    f.seek(offset)
    f.write(bytes([byte[0] ^ 0x01]))
EOF
signature_ok "$out/changed.exe" && fail "a setup with a byte changed in its file data passes the check"

echo "=== what must fail"
project_with wrong "[sign]
certificate = \"$pki/signer.p12\"
password-file = \"wrong.txt\""
printf 'not the password\n' >"$out/wrong/wrong.txt"
if build wrong 2>"$out/wrong.err" >/dev/null; then fail "a wrong password signed"; fi
grep -qF "cannot sign" "$out/wrong.err" || fail "a wrong password does not say it cannot sign: $(cat "$out/wrong.err")"
[ ! -e "$out/wrong.exe" ] || fail "a build whose signing failed left a setup"
project_with inline "[sign]
certificate = \"signer.p12\"
password = \"secret\""
if build inline 2>"$out/inline.err" >/dev/null; then fail "a password in the project was taken"; fi
grep -qF "sign.password" "$out/inline.err" || fail "a password in the project is not named: $(cat "$out/inline.err")"

echo "=== volumes: only the first file is signed"
project_with volumes ""
head -c 200000 /dev/urandom >"$out/volumes/readme.txt"
build volumes --disk-size 120000 --certificate "$pki/signer.pem" --key "$pki/signer.key" >/dev/null ||
    fail "the signed build in volumes failed"
[ -f "$out/volumes.D01" ] || fail "the build wrote no second volume"
signature_ok "$out/volumes.exe" || fail "the first file of a setup in volumes does not verify"
"$kelvo" verify "$out/volumes.exe" >/dev/null || fail "kelvo verify fails on a signed setup in volumes"

echo "=== a signed setup installs under Wine and its uninstaller removes it"
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Kelvo Signed"
rm -rf "$folder"
bash "$scripts/wine-run.sh" "$out/p12.exe" /QUIET /NORESTART || fail "the signed setup ended with $?"
for file in readme.txt docs/notes.txt uninstall.exe uninstall.dat; do
    [ -f "$folder/$file" ] || fail "the signed setup did not install $folder/$file"
done
signature_ok "$folder/uninstall.exe" || fail "the installed uninstaller lost its signature: $(report "$folder/uninstall.exe")"
bash "$scripts/wine-run.sh" "C:\\Kelvo Signed\\uninstall.exe" /Q || true
for file in readme.txt docs/notes.txt docs uninstall.dat; do
    [ ! -e "$folder/$file" ] || fail "the uninstaller left $folder/$file"
done
if bash "$scripts/wine-run.sh" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Kelvo Signed" >/dev/null 2>&1; then
    fail "the uninstaller left its uninstall key"
fi
# /Q leaves the running uninstaller itself to the next restart.
rm -rf "$folder"

echo "=== an unsigned setup still appends the log to its uninstaller"
bash "$scripts/wine-run.sh" "$out/later.exe" /QUIET /NORESTART || true
[ -e "$folder/uninstall.dat" ] && fail "a setup signed after its build wrote the log beside its uninstaller"
[ -f "$folder/uninstall.exe" ] || fail "the setup signed later did not install its uninstaller"
bash "$scripts/wine-run.sh" "C:\\Kelvo Signed\\uninstall.exe" /Q || true
[ ! -e "$folder/readme.txt" ] || fail "the uninstaller with the log appended left readme.txt"
rm -rf "$folder"

if [ "$failures" -ne 0 ]; then
    echo "signing test: $failures failure(s)" >&2
    exit 1
fi
echo "signing test passed"
