#!/usr/bin/env bash
# Signs a finished setup file with Authenticode (osslsigncode), SHA-256.
#
#   scripts/sign.sh --cert CERT --key KEY [--pass-file FILE] [--timestamp URL]
#                   [--description TEXT] [--out SIGNED] SETUP
#
# CERT is the code-signing certificate with its chain (PEM, or DER/SPC), KEY
# its private key (PEM or DER); --pass-file holds the key's password. Without
# --out the file is signed in place. --description is the name the
# elevation prompt shows ("Kelvra Setup" unless given; KELVRA.EXE is signed
# as "Kelvra" before it is packed). The signature's certificate table is
# appended after the archive, so the setup still finds its archive.
# With SOURCE_DATE_EPOCH set, the signing time is that moment, so a release
# signed twice with the same key gives the same bytes; a timestamp server
# (--timestamp) records the real time instead.
set -euo pipefail

usage() { echo "usage: $0 --cert CERT --key KEY [--pass-file FILE] [--timestamp URL] [--description TEXT] [--out SIGNED] SETUP" >&2; exit 2; }

cert= key= pass_file= timestamp= out= setup= description="Kelvra Setup"
while [ $# -gt 0 ]; do
  case $1 in
    --cert) cert=${2:?}; shift 2 ;;
    --key) key=${2:?}; shift 2 ;;
    --pass-file) pass_file=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --description) description=${2:?}; shift 2 ;;
    -*) usage ;;
    *) [ -z "$setup" ] || usage; setup=$1; shift ;;
  esac
done
[ -n "$cert" ] && [ -n "$key" ] && [ -n "$setup" ] || usage
command -v osslsigncode >/dev/null || { echo "$0: osslsigncode is not installed (scripts/bootstrap.sh)" >&2; exit 1; }
[ -n "$out" ] || out=$setup

args=(sign -certs "$cert" -key "$key" -h sha256 -n "$description")
[ -z "$pass_file" ] || args+=(-readpass "$pass_file")
if [ -n "$timestamp" ]; then
  args+=(-ts "$timestamp")
elif [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  args+=(-time "$SOURCE_DATE_EPOCH")
fi

# osslsigncode refuses to write over its input: sign into a file beside the
# output and move it into place only when signing succeeded.
tmp=$(mktemp "$(dirname "$out")/.signing.XXXXXX")
trap 'rm -f "$tmp"' EXIT
rm -f "$tmp"
osslsigncode "${args[@]}" -in "$setup" -out "$tmp" >/dev/null
chmod 755 "$tmp"
mv -f "$tmp" "$out"
echo "signed $out"
