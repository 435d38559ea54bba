# Shared by scripts/test and scripts/demo. Source it from the repository root.
BUILD=${BUILD:-$PWD/build}
CACHE=${QUILLSHELL_CACHE:-$HOME/.cache/quillshell}
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine comes from a Debian root of its own (scripts/arch-setup wine), which
# the build's "$BUILD/wine" runs (scripts/root-wine).
WINE_ROOT=$CACHE/wine-root

PACKAGES="g++-mingw-w64-x86-64 xvfb xauth cmake googletest clang lld nsis"
# The Wine root; qemu-user-static runs the arm64 root (and i386 code where the kernel does not).
PACKAGES="$PACKAGES debootstrap qemu-user-static binfmt-support"
# The MSI, reproducible package times, Authenticode signing, the MSIX packer.
PACKAGES="$PACKAGES wixl msitools faketime osslsigncode openssl python3"
# 7-Zip unpacks the signed installers to check what they carry.
PACKAGES="$PACKAGES p7zip-full"
# The release test validates the winget manifests against winget's JSON schemas.
PACKAGES="$PACKAGES python3-jsonschema python3-yaml"
# libFuzzer and the sanitizers' runtimes: only recommended by clang, so not installed with it.
PACKAGES="$PACKAGES libclang-rt-14-dev"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# apt-get update (with apt-get's options given, e.g. lists of its own), tried a few times:
# a mirror being synced fails an index for a while ("File has unexpected size
# ... Mirror sync in progress?"). Then it goes on with the indexes it has: an
# install fails later only if a package it needs is missing from them.
APT_GET=${APT_GET:-apt-get}
apt_update() {  # [apt-get option...]
  local try out
  for try in 1 2 3; do
    out=$(as_root $APT_GET "$@" -qq update 2>&1) && return 0
    [ "$try" = 3 ] || sleep $((try * ${APT_RETRY_PAUSE:-10}))
  done
  echo "== apt-get update failed 3 times; going on with the indexes it has:"
  echo "$out" | grep -E '^(E|W|Err):' | head -2 | cut -c1-200 | sed 's/^/   /'
  return 0
}

# apt-get install; when that fails, one line for each package that cannot be
# installed, with apt's reason.
apt_install() {  # [-t SUITE] PACKAGE...
  local suite=() p out why
  [ "$1" != -t ] || { suite=(-t "$2"); shift 2; }
  # (Another set-up step may hold apt's lock for a while: it is waited for.)
  out=$(as_root env DEBIAN_FRONTEND=noninteractive $APT_GET -o DPkg::Lock::Timeout=300 install -y -qq \
        --no-install-recommends "${suite[@]}" "$@" 2>&1) && return 0
  for p; do
    why=$($APT_GET install -s -q --no-install-recommends "${suite[@]}" "$p" 2>&1) && continue
    echo "cannot install $p: $( { grep -m1 -E 'Depends:|Conflicts:|Breaks:|installation candidate|Unable to locate' <<<"$why" ||
      grep -m1 '^E:' <<<"$why"; } | sed 's/^ *//' | cut -c1-200)"
    out=""
  done
  [ -z "$out" ] || echo "apt-get install failed: $(echo "$out" | grep '^E:' | tail -1 | cut -c1-200)"
  return 1
}

# Debian packages, installed only when one is missing.
ensure_packages() {
  local missing=""
  for p in $PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  if [ -n "$missing" ]; then
    echo "== installing:$missing"
    apt_update
    apt_install $missing || return 1
  fi
  ensure_osslsigncode
}

# The entry of the suite <codename>-backports (deb822), derived from the
# machine's own entry for <codename>: the same URIs, components and key.
# Reads ROOT/etc/apt (ROOT empty: this machine's).
backports_entry() {
  local root=${1:-} codename f
  codename=$(. "$root/etc/os-release" 2>/dev/null && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  for f in "$root"/etc/apt/sources.list.d/*.sources "$root/etc/apt/sources.list" "$root"/etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v s="$codename" '
      function flush() {
        if (!done && (" " types " ") ~ / deb / && (" " suites " ") ~ (" " s " ") && uris != "") {
          printf "Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: %s\n", uris, s, comps
          if (key != "") printf "Signed-By: %s\n", key
          done = 1
        }
        types = suites = uris = comps = key = ""
      }
      /^[ \t]*#/ { next }
      /^[ \t]*$/ { flush(); next }
      /^Types:/ { types = $0; sub(/^Types:[ \t]*/, "", types); next }
      /^Suites:/ { suites = $0; sub(/^Suites:[ \t]*/, "", suites); next }
      /^URIs:/ { uris = $0; sub(/^URIs:[ \t]*/, "", uris); next }
      /^Components:/ { comps = $0; sub(/^Components:[ \t]*/, "", comps); next }
      /^Signed-By:[ \t]*[^ \t]/ { key = $0; sub(/^Signed-By:[ \t]*/, "", key); next }
      $1 == "deb" {   # one-line form: deb [options] URI suite components...
        i = 2; opts = ""
        if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) opts = opts " " $(i++); opts = opts " " $(i++) }
        if ($(i + 1) == s) {
          types = "deb"; uris = $i; suites = s; comps = ""
          for (j = i + 2; j <= NF; j++) comps = comps (comps == "" ? "" : " ") $j
          if (match(opts, /signed-by=[^] ]+/)) key = substr(opts, RSTART + 10, RLENGTH - 10)
          flush()
        }
      }
      END { flush() }' "$f" | head -n 5 | grep . && return 0
  done
  return 1
}

# Signing MSIX packages needs osslsigncode 2.7 or later: Debian 12 has 2.5,
# its backports suite a later one. The suite is added when it is needed.
ensure_osslsigncode() {
  local v entry
  v=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || true)
  [ -n "$v" ] && dpkg --compare-versions "$v" ge 2.7 && return 0
  entry=$(backports_entry) || { echo "osslsigncode $v cannot sign MSIX packages, and no backports suite can be derived"; return 0; }
  local suite
  suite=$(echo "$entry" | sed -n 's/^Suites: //p')
  echo "== installing osslsigncode from $suite (MSIX signing needs 2.7 or later)"
  if ! grep -rqs "$suite" /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "$entry" | as_root tee /etc/apt/sources.list.d/quillshell-backports.sources >/dev/null
  fi
  apt_update
  apt_install -t "$suite" osslsigncode
}

# The builds need their toolchains: the other architectures' builds (inside
# the build folder: QUILLSHELL_ARCHS, "x86;arm64" unless set) Debian's i686
# mingw-w64 and an ARM64 one that scripts/arch-setup makes once, outside the
# clone. The tests need the Wine root, which is made (mostly downloads and
# unpacking) while the build compiles.
QUILLSHELL_ARCHS=${QUILLSHELL_ARCHS-x86;arm64}
ensure_toolchains() {
  local out parts="" a
  for a in ${QUILLSHELL_ARCHS//;/ }; do
    case $a in x86) parts="$parts x86-toolchain" ;; arm64) parts="$parts arm64-toolchain" ;; esac
  done
  [ -n "$parts" ] || return 0
  out=$(scripts/arch-setup $parts 2>&1) || { echo "$out"; echo "arch-setup failed"; return 1; }
  echo "$out" | grep -v '^ARM64_' || true
}

configure_and_build() {
  local wine_log=$BUILD/wine-setup.log wine_job
  mkdir -p "$BUILD"
  scripts/arch-setup wine >"$wine_log" 2>&1 & wine_job=$!
  ensure_toolchains || { wait $wine_job; return 1; }
  echo "== building in $BUILD"
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DQUILLSHELL_ARCHS="$QUILLSHELL_ARCHS" >/dev/null ||
    { echo "configure failed"; wait $wine_job; return 1; }
  # Every target must build (the installers, the MSI, the test programs): a
  # reused build folder would otherwise test the outputs of an earlier build.
  local - rc=0
  set -o pipefail  # (local -: for this function only)
  cmake --build "$BUILD" -j2 2>&1 | { grep -Ev '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Built target)' || true; } || rc=$?
  wait $wine_job || { grep -v '^ARM64_' "$wine_log"; echo "arch-setup wine failed"; return 1; }
  grep -v '^ARM64_' "$wine_log" || true
  [ "$rc" = 0 ] || { echo "build failed (exit code $rc)"; return 1; }
}

stop_wine() { "$BUILD/wine" --server -k 2>/dev/null || true; sleep 0.5; }

# A private Wine prefix inside the build folder, made once.
ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making the Wine prefix (about 20 s)"
    mkdir -p "$WINEPREFIX"
    "$BUILD/wine" wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # Unmanaged windows: message boxes close at once instead of after 2 s.
  "$BUILD/wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  "$BUILD/wine" --server -w
}
