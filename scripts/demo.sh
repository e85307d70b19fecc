#!/usr/bin/env bash
# `make demo`: renders the built-in demo tune with each module of the plug-in to
# build/demo/<module>.mp4, plus a PNG snapshot of each, and prints their paths.
# Expects the linux preset to be built (the Makefile does that first).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/linux/orlimvis"
out="$root/build/demo"
if [ ! -x "$bin" ]; then
  echo "demo: $bin is missing; build the linux preset first (make demo does)" >&2
  exit 1
fi
mkdir -p "$out"
# `orlimvis list` prints the description, then one "  INDEX  NAME" line per module.
mapfile -t modules < <("$bin" list | awk 'NR > 1 { print $2 }')
if [ ${#modules[@]} -eq 0 ]; then
  echo "demo: the plug-in lists no modules" >&2
  exit 1
fi
for module in "${modules[@]}"; do
  # The same seed for the video and the snapshot: the PNG is the video's frame at 8 s.
  "$bin" render -y -m "$module" --seed 1 -o "$out/$module.mp4"
  "$bin" render -y -m "$module" --seed 1 --at 8 -o "$out/$module.png"
done
for module in "${modules[@]}"; do
  echo "$out/$module.mp4"
  echo "$out/$module.png"
done
