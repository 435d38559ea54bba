#!/usr/bin/env bash
# The package set-up of scripts/lib.sh: the backports suite's entry that it
# derives from a machine's Debian sources, for each form apt reads (one row a
# machine's sources, the entry expected; empty: none can be derived; the URIs
# are local folders: the derivation copies whatever the machine names); then
# its apt-get update and install against a local mirror with one index that
# fails as one being synced does (its Release names a size the file has not).
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

# A local mirror: suite "good" lists qs-probe and qs-needy (which needs a
# package nobody has); suite "syncing" names its index with a wrong size.
rm -rf "$root" && mkdir -p "$root/parts" "$root/lists/partial" "$root/cache"
for suite in good syncing; do
  d=$root/mirror/dists/$suite/main/binary-all
  mkdir -p "$d"
  if [ $suite = good ]; then
    printf '%s\n' 'Package: qs-probe' 'Version: 1' 'Architecture: all' 'Filename: pool/qs-probe_1_all.deb' 'Size: 1' \
      'Description: probe' '' 'Package: qs-needy' 'Version: 1' 'Architecture: all' 'Depends: qs-missing' \
      'Filename: pool/qs-needy_1_all.deb' 'Size: 1' 'Description: needy' '' >"$d/Packages"
  else
    printf '%s\n' 'Package: qs-late' 'Version: 1' 'Architecture: all' 'Filename: pool/qs-late_1_all.deb' 'Size: 1' \
      'Description: late' '' >"$d/Packages"
  fi
  size=$(wc -c <"$d/Packages"); [ $suite = good ] || size=$((size + 7))
  printf 'Suite: %s\nCodename: %s\nArchitectures: all amd64\nComponents: main\nSHA256:\n %s %s main/binary-all/Packages\n' \
    $suite $suite "$(sha256sum <"$d/Packages" | cut -d' ' -f1)" "$size" >"$root/mirror/dists/$suite/Release"
done
printf 'Types: deb\nURIs: file:%s\nSuites: good syncing\nComponents: main\nTrusted: yes\n' "$root/mirror" >"$root/parts/m.sources"
# apt-get on that mirror alone, installs only simulated; it counts its updates.
printf '#!/bin/sh\n[ "$1" = update ] || [ "$2" = update ] && echo >>"%s/updates"
exec apt-get -o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="%s/parts" -o Dir::State::Lists="%s/lists" \\
  -o Dir::Cache="%s/cache" -o Debug::NoLocking=1 -o APT::Sandbox::User=root -o APT::Get::Simulate=true "$@"\n' \
  "$root" "$root" "$root" "$root" >"$root/apt-get"
chmod +x "$root/apt-get"
apt_row() { # what, expected exit code, text expected in a line of the output, command...
  local what=$1 rc=0 want_rc=$2 want=$3 got; shift 3
  got=$(APT_GET="$root/apt-get" APT_RETRY_PAUSE=0 "$@" 2>&1) || rc=$?
  [ "$rc" = "$want_rc" ] && grep -qF -- "$want" <<<"$got" ||
    { echo "FAIL: $what: exit code $rc, output:"; echo "$got"; failures=$((failures + 1)); }
}
apt_row "an index that fails: three tries, then on" 0 "apt-get update failed 3 times" apt_update
[ "$(cat "$root/updates" 2>/dev/null | wc -l)" = 3 ] || { echo "FAIL: not 3 updates"; failures=$((failures + 1)); }
apt_row "a package of the indexes it has" 0 "" apt_install qs-probe
apt_row "a package of the failed index" 1 "cannot install qs-late: " apt_install qs-probe qs-late
apt_row "a package that needs a missing one" 1 "cannot install qs-needy: qs-needy : Depends: qs-missing" apt_install qs-needy
rm -rf "$root"
echo "backports: $failures failure(s)"
[ "$failures" = 0 ]
