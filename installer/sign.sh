#!/bin/sh
# Authenticode-signs PE files and MSI packages in place, with SHA-256.
#   sign.sh CERT KEY TIMESTAMP_URL TIME FILE...
# CERT: the certificate (and any intermediate ones), PEM; KEY: its private
# key, PEM, unencrypted. With a timestamp URL the signing time comes from that
# server; without one it is TIME (Unix seconds), so that the same input gives
# the same signed bytes. Any failure ends the script with exit code 1 and
# leaves the file as it was.
set -eu
cert=$1 key=$2 url=$3 time=$4
shift 4
if [ -n "$url" ]; then when="-ts $url"; else when="-time $time"; fi
for f in "$@"; do
  rm -f "$f.signed"
  # shellcheck disable=SC2086
  if ! osslsigncode sign -certs "$cert" -key "$key" -h sha256 -n Quillshell $when \
       -in "$f" -out "$f.signed" >"$f.sign-log" 2>&1; then
    echo "signing $f failed:" >&2
    cat "$f.sign-log" >&2
    rm -f "$f.signed" "$f.sign-log"
    exit 1
  fi
  rm -f "$f.sign-log"
  mv "$f.signed" "$f"
done
