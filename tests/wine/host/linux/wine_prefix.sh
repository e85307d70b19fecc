#!/bin/sh
# Makes the build folder's Wine prefix once (Wine's first start is slow), so that the
# tests that run Win32 programs find it ready. Missing tools are a failure.
set -eu
prefix="$1"
for tool in wine wineboot wineserver xvfb-run; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "wine_prefix: $tool is not installed (make deps installs wine, wine32:i386 and xvfb)" >&2
    exit 1
  fi
done
if [ -f "$prefix/system.reg" ]; then
  exit 0
fi
mkdir -p "$prefix"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'wineboot -i; status=$?; wineserver -w; exit $status'
if [ ! -f "$prefix/system.reg" ]; then
  echo "wine_prefix: wineboot did not make a prefix in $prefix" >&2
  exit 1
fi
