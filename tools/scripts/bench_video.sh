#!/usr/bin/env bash
# `make bench`, video output as a ratio to the encoder alone: how much of `render`'s time
# is ours (decoding, analysis, drawing, piping) rather than the encoder's. Per module,
# on a 20 s clip of the demo tune at 640x480:
#   1. once, untimed: `render` to H.264 through a stand-in `ffmpeg` first on the PATH
#      that records the arguments the player gives and keeps a copy of the raw frames
#      it sends, then runs the real ffmpeg;
#   2. the encoder alone: the real ffmpeg with exactly those arguments, reading the
#      recorded raw frames from a file (the same codec, settings and sound);
#   3. `render` itself, to the same codec and settings.
# 2 and 3 alternate, five pairs; printed are the medians of the wall times and of the
# pairs' ratios, and of the CPU each used (render's includes its ffmpeg child: the
# difference is our work). Goal: render within 10% of the encoder alone (wall ratio
# <= 1.10): on an idle machine our work hides behind the encoder's on the second core;
# on a busy one nothing hides, and the CPU ratio is what the wall ratio tends to.
# Figures, not tests: they vary with the machine's load; compare within one run.
# Arguments: other orlimvis binaries (each with its vis_orlim.so beside it) measured
# in turn with this one, for a before and after taken side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/bench_common.sh"
bins=("$root/build/linux/orlimvis" "$@")
need_builds "${bins[@]}"
need_tools ffmpeg
ffmpeg=$(command -v ffmpeg)
bench_scratch video
seconds=10
clip="$work/clip.wav"
"${bins[0]}" tune "$clip" --duration "$seconds" >/dev/null

mkdir "$work/wrap"
cat > "$work/wrap/ffmpeg" <<EOF
#!/usr/bin/env bash
printf '%s\0' "\$@" > "$work/args"
tee "$work/frames.raw" | "$ffmpeg" "\$@"
EOF
chmod +x "$work/wrap/ffmpeg"

median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "video output, ${seconds} s clip at 640x480, 40 frames/s, H.264 as the player encodes it, $(nproc) cores"
# measure BIN MODULE: one line of figures.
measure() {
  local bin=$1 module=$2 i w1 u1 s1 w2 u2 s2 render=() encoder=() ratios=()
  rm -f "$work/recorded.mp4"
  PATH="$work/wrap:$PATH" "$bin" render "$clip" -m "$module" --seed 1 --size 640x480 \
    -o "$work/recorded.mp4"
  local args=()
  while IFS= read -r -d '' a; do args+=("$a"); done < "$work/args"
  # The real program, and a plain file name for the output (the last argument).
  args[0]=$ffmpeg
  args[${#args[@]}-1]="file:$work/encoder.mp4"
  local cpuA=() cpuB=() cpuRatios=()
  for i in 1 2 3 4 5; do
    rm -f "$work/encoder.mp4" "$work/render.mp4"
    /usr/bin/time -f '%e %U %S' -o "$work/t1" "${args[@]}" < "$work/frames.raw"
    /usr/bin/time -f '%e %U %S' -o "$work/t2" "$bin" render "$clip" -m "$module" --seed 1 \
      --size 640x480 -o "$work/render.mp4"
    read -r w1 u1 s1 < "$work/t1"
    read -r w2 u2 s2 < "$work/t2"
    encoder+=("$w1"); render+=("$w2")
    ratios+=("$(awk -v a="$w1" -v b="$w2" 'BEGIN { print b / a }')")
    cpuB+=("$(awk -v u="$u1" -v s="$s1" 'BEGIN { print u + s }')")
    cpuA+=("$(awk -v u="$u2" -v s="$s2" 'BEGIN { print u + s }')")
    cpuRatios+=("$(awk -v a="$u1" -v b="$s1" -v c="$u2" -v d="$s2" 'BEGIN { print (c + d) / (a + b) }')")
  done
  m() { printf '%s\n' "$@" | median; }
  printf '  %-8s wall: encoder %5.2f s, render %5.2f s, ratio %4.2f   CPU: encoder %5.2f s, render %5.2f s, ratio %4.2f%s\n' \
    "$module" "$(m "${encoder[@]}")" "$(m "${render[@]}")" "$(m "${ratios[@]}")" \
    "$(m "${cpuB[@]}")" "$(m "${cpuA[@]}")" "$(m "${cpuRatios[@]}")" \
    "$([ "$bin" = "${bins[0]}" ] || echo "   ($bin)")"
}
for module in $("${bins[0]}" list | awk 'NR > 1 { print $2 }'); do
  for bin in "${bins[@]}"; do measure "$bin" "$module"; done
done
echo "goal: render/encoder (wall) at most 1.10"
