#!/usr/bin/env bash
# Makes a release the way a signed build does, with a throw-away certificate:
# KELVRA.EXE signed (scripts/sign.sh), packed by mksetup with the build's own
# arguments, the setup file signed. Checks it against the unsigned build
# without the key (check_signed.py rebuilds it), checks that the packed
# program carries its signature, and installs it under Wine with the
# end-to-end suite's default scenario.
#   signed_setup.sh SOURCE_DIR SETUP EXTRACTOR WORK MKSETUP STUB PROGRAM
#                   --pack PACK_ARGS... -- E2E_COMMAND...
# PACK_ARGS are mksetup's arguments after the stub, PROGRAM among them (the
# unsigned KELVRA.EXE); E2E_COMMAND is run_e2e.py with every option but --setup.
# The release date comes from SOURCE_DATE_EPOCH, as in the build.
set -euo pipefail
source_dir=$1 setup=$2 extractor=$3 work=$4 mksetup=$5 stub=$6 program=$7
shift 7
[ "$1" = "--pack" ] && shift
pack=()
while [ "$1" != "--" ]; do
  pack+=("$1")
  shift
done
shift
here=$(dirname "$0")

rm -rf "$work"
mkdir -p "$work/inner" "$work/release"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kelvra test signing/O=Kelvra Software" \
  -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
sign=(bash "$source_dir/scripts/sign.sh" --cert "$work/cert.pem" --key "$work/key.pem")
"${sign[@]}" --description Kelvra --out "$work/inner/KELVRA.EXE" "$program"
for i in "${!pack[@]}"; do
  [ "${pack[$i]}" != "$program" ] || pack[$i]=$work/inner/KELVRA.EXE
done
TZ=UTC0 "$mksetup" -o "$work/release/KelvraSetup.exe" --stub "$stub" "${pack[@]}"
"${sign[@]}" --out "$work/KelvraSetup.exe" "$work/release/KelvraSetup.exe"
python3 -B "$here/check_signed.py" --cafile "$work/cert.pem" --extractor "$extractor" --mksetup "$mksetup" \
  --stub "$stub" --work "$work" "$setup" "$work/KelvraSetup.exe"
python3 -B "$here/check_hardening.py" --signed-setup "$work/KelvraSetup.exe" --extractor "$extractor" "$stub" "$program"
"$@" --setup "$work/KelvraSetup.exe" --payload-dir "$work/inner" --scenario default --workdir "$work/e2e"
