#!/usr/bin/env bash
# The portable raster against Wine's GDI on each effect's worst-case frames: prints ms
# per frame for both and the ratio (tools/wine/wine_bench.cpp). Needs the
# linux and mingw-i686 presets built. Not part of `make test`.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bench="$root/build/linux/tests/vis_wine_bench"
replayer="$root/build/mingw-i686/tests/wine/replayer.exe"
[ -x "$bench" ] || { echo "bench_wine: $bench is missing; build the linux preset first" >&2; exit 1; }
[ -f "$replayer" ] || { echo "bench_wine: $replayer is missing; build the mingw-i686 preset first" >&2; exit 1; }
command -v wine >/dev/null || { echo "bench_wine: wine is not on the PATH" >&2; exit 1; }
# The tests' prefix when there is one, so that no new prefix is made.
if [ -z "${WINEPREFIX:-}" ] && [ -d "$root/build/linux/wineprefix" ]; then
  export WINEPREFIX="$root/build/linux/wineprefix"
fi
work=$(mktemp -d /tmp/vis-wine-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "$(nproc) cores; $(wine --version)"
"$bench" "$replayer" "$work"
