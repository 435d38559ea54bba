#!/bin/sh
# Authenticode-signs PE files, MSI and MSIX packages in place, with SHA-256.
#   sign.sh CERT KEY TIMESTAMP_URL TIME FILE...
# CERT: the certificate (and any intermediate ones), PEM; KEY: its private
# key, PEM, unencrypted. With a timestamp URL the signing time comes from that
# server; without one it is TIME (Unix seconds), so that the same input gives
# the same signed bytes. osslsigncode dates the AppxSignature.p7x that it
# adds to an MSIX package by the clock: without a timestamp URL that clock is
# TIME too. (A package's digest algorithm is its block map's: SHA-256.) Any
# failure ends the script with exit code 1 and leaves the file as it was.
set -eu
cert=$1 key=$2 url=$3 time=$4
shift 4
if [ -n "$url" ]; then when="-ts $url"; else when="-time $time"; fi
clock() { # runs a command, an MSIX package's signing at TIME
  case $f in *.msix) [ -n "$url" ] || { TZ=UTC faketime -f "@$(date -u -d "@$time" '+%Y-%m-%d %H:%M:%S')" "$@"; return; } ;; esac
  "$@"
}
for f in "$@"; do
  rm -f "$f.signed"
  # shellcheck disable=SC2086
  if ! clock osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n Quillshell $when \
       -in "$f" -out "$f.signed" >"$f.sign-log" 2>&1; then
    echo "signing $f failed:" >&2
    cat "$f.sign-log" >&2
    rm -f "$f.signed" "$f.sign-log"
    exit 1
  fi
  rm -f "$f.sign-log"
  mv "$f.signed" "$f"
done
