#!/usr/bin/env bash
# `make bench`, live play as a ratio to the effect's own cost, at 640x480 on a minute
# of the demo tune (music: a beat, bass and chords) as a WAV file, per module:
#   - effect: the CPU that `render -o /dev/null` spends on 50 s of it (decoding,
#     analysis and drawing of 2000 frames; the start-up is taken out by subtracting a
#     2 s render), drawing frame after frame;
#   - paced: the same work at the pace `play` does it, each frame when it falls due and
#     sleeping in between (orlimvis_paced, 15 s after the first second). Frames 25 ms
#     apart meet caches that other programs have used meanwhile, so the same drawing
#     costs more than back to back: this is the effect's own cost as `play` meets it;
#   - play: the CPU of `play` over 15 s of playing under a private Xvfb (from
#     /proc/PID/stat, user + system, after the first second), with SDL's dummy audio;
#   - paused: the CPU of `play` over 5 s after Space has paused it (sent with xdotool,
#     as a user would press it).
# All as a share of one core, with play / effect and play / paced. Goals: play at most
# 2x the effect, paused under 1% of a core. Xvfb's own work (putting the image on its screen) is not
# in play's figure: it is the display's, as a compositor's would be.
# Figures, not tests: they vary with the machine's load; compare within one run.
# Arguments: other orlimvis binaries (each with its vis_orlim.so beside it, e.g. a copy
# of an earlier build) measured in turn with this one, module by module, for a before
# and after taken side by side. BENCH_MODULES="Pellox Ambrith" measures only those.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/bench_common.sh"
bins=("$root/build/linux/orlimvis" "$@")
need_builds "${bins[@]}" "$root/build/linux/orlimvis_paced"
need_tools Xvfb xdotool
bench_scratch live
startx

ticks=$(getconf CLK_TCK)
clip="$work/tune.wav"
"${bins[0]}" tune "$clip" --duration 60 >/dev/null
# cpu PID: user + system ticks of the process so far.
cpu() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# rendercpu BIN SECONDS MODULE: user + system seconds of a render of that much of the tune.
rendercpu() {
 /usr/bin/time -f '%U %S' -o "$work/time" "$1" render "$clip" -m "$3" --seed 1 --size 640x480 \
    --duration "$2" -o /dev/null
  awk '{ print $1 + $2 }' "$work/time"
}
share() { awk -v c="$1" -v s="$2" 'BEGIN { printf "%.2f", 100 * c / s }'; }
# pacedcpu BIN MODULE: CPU seconds per second of the effect drawn at its pace, by the
# orlimvis_paced beside BIN (or this build's, for a binary without one).
pacedcpu() {
  local tool
  tool=$(dirname "$1")/orlimvis_paced
  [ -x "$tool" ] || tool="$root/build/linux/orlimvis_paced"
  "$tool" -m "$2" --seed 1 --size 640x480 --duration 16 "$clip" | awk '{ print $1 / 15 }'
}

echo "live play, 640x480, a minute of the demo tune, 40 frames/s, $(nproc) cores (CPU as % of one core)"
# measure BIN MODULE: one line of figures.
measure() {
  local bin=$1 module=$2 short long effect paced id a b play paused
  short=$(rendercpu "$bin" 2 "$module")
  long=$(rendercpu "$bin" 52 "$module")
  effect=$(awk -v a="$long" -v b="$short" 'BEGIN { d = a - b; if (d < 0.01) d = 0.01; print d / 50 }')
  paced=$(pacedcpu "$bin" "$module")

  local attempt
  for attempt in 1 2; do
    SDL_AUDIODRIVER=dummy "$bin" play "$clip" -m "$module" --seed 1 --size 640x480 >"$work/play.log" 2>&1 &
    player=$!
    id=""
    for _ in $(seq 500); do
      id=$(xdotool search --name "^$module - tune(\.wav)? - 0:0[0-9]" 2>/dev/null | head -1 || true)
      [ -n "$id" ] && break
      kill -0 "$player" 2>/dev/null || break
      sleep 0.02
    done
    [ -n "$id" ] && break
    kill "$player" 2>/dev/null; wait "$player" 2>/dev/null || true
    player=""
    echo "bench: play showed no frame ($(tail -1 "$work/play.log")); again on a new X server" >&2
    kill "$xvfb" 2>/dev/null
    startx
  done
  [ -n "$id" ] || { echo "bench: play showed no frame: $(tail -1 "$work/play.log")" >&2; exit 1; }
  sleep 1
  a=$(cpu "$player"); sleep 15; b=$(cpu "$player")
  play=$(awk -v a="$a" -v b="$b" -v t="$ticks" 'BEGIN { print (b - a) / t / 15 }')
  xdotool windowfocus --sync "$id" key space
  sleep 1
  a=$(cpu "$player"); sleep 5; b=$(cpu "$player")
  paused=$(awk -v a="$a" -v b="$b" -v t="$ticks" 'BEGIN { print (b - a) / t / 5 }')
  kill "$player"; wait "$player" 2>/dev/null || true
  player=""
  printf '  %-8s effect %5s%%  paced %5s%%  play %5s%%  play/effect %4.1fx  play/paced %4.1fx  paused %5s%%%s\n' \
    "$module" "$(share "$effect" 1)" "$(share "$paced" 1)" "$(share "$play" 1)" \
    "$(awk -v p="$play" -v e="$effect" 'BEGIN { print p / e }')" \
    "$(awk -v p="$play" -v e="$paced" 'BEGIN { print p / e }')" \
    "$(share "$paused" 1)" "$([ "$bin" = "${bins[0]}" ] || echo "   ($bin)")"
}
for module in ${BENCH_MODULES:-$("${bins[0]}" list | awk 'NR > 1 { print $2 }')}; do
  for bin in "${bins[@]}"; do measure "$bin" "$module"; done
done
echo "goals: play/effect at most 2x; paused under 1% of a core"
echo "(play/paced is the player's own share: showing the frames, events, audio)"
