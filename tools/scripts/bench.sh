#!/usr/bin/env bash
# `make bench`: speed figures, not tests. Prints the real-time factor of
# `orlimvis render` on a 60 s clip at 640x480 (40 frames per second): analysis and
# drawing alone (frames discarded), and with H.264 encoding (x264 veryfast + AAC);
# and, timed side by side on the same clip, ffmpeg's own showcqt filter at the same
# size and rate, without encoding and feeding the same encoder settings. Then runs the
# Google Benchmark suite when it is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
bin="$root/build/linux/orlimvis"
[ -x "$bin" ] || { echo "bench: $bin is missing; build the linux preset first" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is not on the PATH" >&2; exit 1; }

work=$(mktemp -d /tmp/orlimvis-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
clip="$work/clip.wav"
seconds=60
"$bin" tune "$clip" --duration "$seconds" >/dev/null

now() { date +%s.%N; }
# factor START END: audio seconds per wall-clock second.
factor() { awk -v s="$1" -v e="$2" -v a="$seconds" 'BEGIN { printf "%7.1fx  (%.2f s)", a / (e - s), e - s }'; }

encode=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -b:a 192k -movflags +faststart)
echo "real-time factor, ${seconds} s clip at 640x480, 40 frames/s, $(nproc) cores"
modules=$("$bin" list | awk 'NR > 1 { print $2 }')
for module in $modules; do
  t0=$(now); "$bin" render "$clip" -m "$module" --seed 1 -o /dev/null; t1=$(now)
  "$bin" render "$clip" -m "$module" --seed 1 -o "$work/$module.mp4"; t2=$(now)
  printf '  orlimvis %-8s  analysis+drawing %s   with H.264 %s\n' "$module" \
    "$(factor "$t0" "$t1")" "$(factor "$t1" "$t2")"
  rm -f "$work/$module.mp4"
done
cqt="[0:a]showcqt=s=640x480:r=40[v]"
t0=$(now)
ffmpeg -v error -nostdin -y -i "$clip" -filter_complex "$cqt" -map "[v]" -f null - ; t1=$(now)
ffmpeg -v error -nostdin -y -i "$clip" -filter_complex "$cqt" -map "[v]" -map 0:a "${encode[@]}" \
  "$work/showcqt.mp4"; t2=$(now)
printf '  ffmpeg showcqt     analysis+drawing %s   with H.264 %s\n' \
  "$(factor "$t0" "$t1")" "$(factor "$t1" "$t2")"
echo "goals: at least 100x without encoding; with H.264 faster than showcqt with H.264"
echo "(the machine's other load counts: compare figures from one run only)"

if [ -x "$root/build/linux/bench/bench" ]; then
  echo
  "$root/build/linux/bench/bench"
fi
