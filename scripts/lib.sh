# Shared by scripts/test and scripts/demo. Source it from the repository root.
BUILD=${BUILD:-$PWD/build}
export WINEPREFIX=$BUILD/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64

PACKAGES="g++-mingw-w64-x86-64 wine wine64 xvfb xauth cmake googletest clang lld nsis"
# The MSI, reproducible package times, Authenticode signing.
PACKAGES="$PACKAGES wixl msitools faketime osslsigncode openssl"
# 7-Zip unpacks the signed installers to check what they carry.
PACKAGES="$PACKAGES p7zip-full"
# libFuzzer and the sanitizers' runtimes: only recommended by clang, so not installed with it.
PACKAGES="$PACKAGES libclang-rt-14-dev"

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Debian packages, installed only when one is missing.
ensure_packages() {
  local missing=""
  for p in $PACKAGES "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "== installing:$missing"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing >/dev/null
}

configure_and_build() {
  echo "== building in $BUILD"
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$BUILD" -j2 2>&1 | grep -Ev '^\[ *[0-9]+%\]|^(Consolidate|Scanning|Built target)' || true
  [ -f "$BUILD/bin/quillshell.dll" ] || { echo "build failed"; cmake --build "$BUILD" -j1; return 1; }
}

stop_wine() { wineserver -k 2>/dev/null || /usr/lib/wine/wineserver -k 2>/dev/null || true; sleep 0.5; }

# A private Wine prefix inside the build folder, made once.
ensure_wine_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== making the Wine prefix (about 10 s)"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
  fi
  # Unmanaged windows: message boxes close at once instead of after 2 s.
  "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
}
