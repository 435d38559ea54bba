#!/usr/bin/env bash
# The backports suite's entry that scripts/lib.sh derives from a machine's
# Debian sources, for each form apt reads: one row a machine's sources,
# the entry expected (empty: none can be derived). The URIs are local
# folders: the derivation copies whatever the machine names.
#   usage: backports_test.sh <source folder> <work folder>
set -uo pipefail
source "$1/scripts/lib.sh"
root=$2
failures=0
row() { # sources.list.d/*.sources, sources.list, expected entry
  rm -rf "$root" && mkdir -p "$root/etc/apt/sources.list.d"
  echo "VERSION_CODENAME=bookworm" >"$root/etc/os-release"
  [ -z "$1" ] || printf '%b' "$1" >"$root/etc/apt/sources.list.d/debian.sources"
  [ -z "$2" ] || printf '%b' "$2" >"$root/etc/apt/sources.list"
  got=$(backports_entry "$root")
  [ "$got" = "$(printf '%b' "$3")" ] || { echo "FAIL: for $1$2 got:"; echo "$got"; failures=$((failures + 1)); }
}
entry='Types: deb\nURIs: file:/srv/mirror/debian\nSuites: bookworm-backports\nComponents: main contrib'
# deb822, as Debian 12 installs it: the security suite's entry is not the one.
row 'Types: deb\nURIs: file:/srv/mirror/debian-security\nSuites: bookworm-security\nComponents: main\n\n# x\nTypes: deb deb-src\nURIs: file:/srv/mirror/debian\nSuites: bookworm bookworm-updates\nComponents: main contrib\nSigned-By: /k.gpg\n' \
    '' "$entry\nSigned-By: /k.gpg"
# The one-line form, with and without options.
row '' '# a comment\ndeb-src file:/srv/other/debian bookworm main\ndeb [arch=amd64 signed-by=/k.gpg] file:/srv/mirror/debian bookworm main contrib\n' \
    "$entry\nSigned-By: /k.gpg"
row '' 'deb file:/srv/mirror/debian bookworm main contrib\n' "$entry"
# Nothing for this release: nothing is derived.
row 'Types: deb\nURIs: file:/srv/mirror/debian\nSuites: trixie\nComponents: main\n' 'deb file:/srv/mirror/debian sid main\n' ''
rm -rf "$root"
echo "backports: $failures failure(s)"
[ "$failures" = 0 ]
