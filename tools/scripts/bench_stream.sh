#!/usr/bin/env bash
# `make bench`, the player on a long track: makes a 9-minute MP3 (tones, a beat and
# pink noise, so it decodes like music), then prints
#   - `play`: the time from launch to the first frame on screen (the window's title
#     gains the track's position once the first frame is presented) and the resident
#     memory at its peak after 5 s of playing, under a private Xvfb;
#   - `render` of the whole track to /dev/null: wall time and peak resident memory.
# Figures, not tests: they vary with the machine's load.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/bench_common.sh"
bin="$root/build/linux/orlimvis"
need_builds "$bin"
need_tools ffmpeg Xvfb xdotool
bench_scratch stream

track="$work/long.mp3"
ffmpeg -nostdin -v error -f lavfi -i "sine=f=110:d=540" -f lavfi -i "sine=f=659:d=540" \
  -f lavfi -i "anoisesrc=d=540:c=pink:a=0.2" \
  -filter_complex "[0]tremolo=f=2:d=0.9[a];[1]tremolo=f=4:d=0.7[b];[a][b][2]amix=inputs=3,volume=2" \
  -ac 2 -c:a libmp3lame -b:a 192k -metadata title=Long "$track"
echo "track: 9:00 MP3, $(du -h "$track" | cut -f1)"

startx

ms() { date +%s%3N; }
start=$(ms)
SDL_AUDIODRIVER=dummy "$bin" play "$track" -m Pellox --seed 1 >/dev/null 2>&1 &
player=$!
until xdotool search --name '^Pellox - Long - ' >/dev/null 2>&1; do
  kill -0 "$player" 2>/dev/null || { echo "bench: play ended early" >&2; exit 1; }
  sleep 0.01
done
first=$(( $(ms) - start ))
sleep 5
peak=$(awk '/VmHWM/ { print $2 }' /proc/$player/status)
kill "$player"; wait "$player" 2>/dev/null || true
player=""
printf 'play:   first frame after %d ms, peak resident memory %d MB after 5 s\n' "$first" $((peak / 1024))

/usr/bin/time -f '%e %M' -o "$work/time" "$bin" render "$track" -m Pellox --seed 1 -o /dev/null
read -r wall kb < "$work/time"
printf 'render: whole track to /dev/null in %s s, peak resident memory %d MB\n' "$wall" $((kb / 1024))
echo "goals: play's first frame under 1 s and under 50 MB"
