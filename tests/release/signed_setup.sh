#!/usr/bin/env bash
# Signs the built setup file with a throw-away certificate the way a release
# is signed (scripts/sign.sh), checks the signed file, and installs it under
# Wine with the end-to-end suite's default scenario.
#   signed_setup.sh SOURCE_DIR SETUP EXTRACTOR WORK -- E2E_COMMAND...
# E2E_COMMAND is run_e2e.py with every option but --setup.
set -euo pipefail
source_dir=$1 setup=$2 extractor=$3 work=$4
shift 4
[ "$1" = "--" ] && shift
here=$(dirname "$0")

rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelvra test signing/O=Kelvra Software" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
bash "$source_dir/scripts/sign.sh" --cert "$work/cert.pem" --key "$work/key.pem" \
  --out "$work/KelvraSetup.exe" "$setup"
python3 -B "$here/check_signed.py" --cafile "$work/cert.pem" --extractor "$extractor" --work "$work" \
  "$setup" "$work/KelvraSetup.exe"
"$@" --setup "$work/KelvraSetup.exe" --scenario default --workdir "$work/e2e"
