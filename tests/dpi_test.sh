#!/usr/bin/env bash
# The item bitmap at 100, 150 and 200 % display scale: the menu test's bitmap
# check run under LogPixels 144, 192 and 96. A prefix of its own
# (<build>/dpi-prefix, made once): the DPI applies only to a fresh
# wineserver, which the other tests' shared prefix cannot be given.
#
# usage: dpi_test.sh <build folder>
set -uo pipefail
build=$(cd "$1" && pwd)
export WINEPREFIX=$build/dpi-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=$build/wine
out=$(mktemp)
trap '"$WINE" --server -k 2>/dev/null; rm -f "$out"' EXIT
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$WINE" wineboot -i </dev/null >/dev/null 2>&1
fi
failures=0
for dpi in 144 192 96; do
  "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  "$WINE" --server -w  # the next program starts a wineserver that reads it
  QUILL_DPI=$dpi "$WINE" "$build/bin/menu_test.exe" --gtest_filter=MenuTest.ItemBitmapFitsTheDisplay \
    </dev/null >"$out" 2>&1
  if grep -q '^\[  PASSED  \] 1 test' "$out"; then
    echo "$dpi DPI: passed"
  else
    echo "$dpi DPI: FAILED"
    sed 's/^/    | /' "$out"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))
