#!/usr/bin/env bash
# `make faults`: faults injected on purpose, and a table of what survived them. Not part
# of `make test`: it takes minutes and kills processes at random moments, so its figures
# are a sample, not a verdict that holds on every run.
#   - renders: for each output kind (mp4, mkv, webm, gif, one png, a folder of frames),
#     FAULT_ROUNDS renders (50) of 1 s of the demo tune killed with SIGKILL at a random moment
#     of their run (as the OOM killer would), each followed by a normal run on the same
#     output without -y. Counted: outputs found half-written (an output is either absent
#     or whole: it must probe and decode to its full length), next runs that failed, and
#     anything of either run still there once both are over (their ffmpeg included):
#     .part files, staging folders, scratch folders in $TMPDIR;
#   - settings: FAULT_INI_ROUNDS rounds (20) of 8 processes writing keys of their own
#     into one plugin.ini through libvisplatform, each killed at its own random moment.
#     Counted: rounds where the file was not well formed, keys whose write had returned
#     success that are missing, temporary files left after the next write;
#   - play: the sound server killed while `play` plays through it, then started again;
#     `play`'s window destroyed from outside (xdotool windowclose), and its connection
#     to the X server cut (xkill). What `play` did, and what it said, is shown as it is.
# Everything runs in a scratch folder (a private Xvfb and PulseAudio for play), removed
# at the end.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/bench_common.sh"
# An argument names another orlimvis (with its libvisplatform.so beside it), such as a
# copy of an earlier build, to see what it survives.
bin=${1:-$root/build/linux/orlimvis}
lib="$(dirname "$bin")/libvisplatform.so"
need_builds "$bin"
[ -f "$lib" ] || { echo "faults: $lib is missing; build the linux preset first" >&2; exit 1; }
need_tools ffmpeg ffprobe python3 Xvfb xdotool xkill pulseaudio
bench_scratch faults
rounds=${FAULT_ROUNDS:-50}
iniRounds=${FAULT_INI_ROUNDS:-20}
size=96x72
duration=1
frames=40  # 1 s of 25 ms frames (Pellox)
# The interpreter itself, not a version manager's shim: its start-up would take most
# of the time a writer has before it is killed.
python=$(python3 -c 'import sys; print(sys.executable)')
rows=()

# row FAULT TRIES SURVIVED NOTE: one line of the table.
row() { rows+=("$(printf '%-44s %6s %9s  %s' "$1" "$2" "$3" "$4")"); }

# --- Renders killed at random ------------------------------------------------------

# whole OUT KIND: the output probes and decodes to the whole clip.
whole() {
  local out=$1 kind=$2
  case $kind in
    png) [ "$(ffprobe -v error -show_entries stream=width,height -of csv=p=0 "$out")" = "96,72" ] ;;
    frames)
      local n
      n=$(find "$out" -maxdepth 1 -name 'frame_*.png' | wc -l)
      [ "$n" -eq "$frames" ] && ffprobe -v error "$out/frame_0000$frames.png" ;;
    *)
      local seconds
      seconds=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$out") || return 1
      ffmpeg -nostdin -v error -xerror -i "$out" -f null - 2>/dev/null || return 1
      awk -v s="$seconds" -v d="$duration" 'BEGIN { exit !(s > d - 0.2 && s < d + 0.2) }' ;;
  esac
}

# clear OUT KIND: takes a whole output away, so that the next run needs no -y.
clear_output() {
  if [ "$2" = frames ]; then rm -f "$1"/frame_*.png; else rm -f "$1"; fi
}

# leftovers FOLDER TMP: what is in the output's folder and $TMPDIR besides outputs.
leftovers() {
  { find "$1" -mindepth 1 -maxdepth 1 -name '.*' -printf '%f\n'
    find "$2" -mindepth 1 -maxdepth 1 -printf '%f\n'; } | sort
}

# wait_gone PID...: until none of them runs (ffmpeg finishing what a dead run began).
wait_gone() {
  local pid tries
  for pid; do
    for ((tries = 0; tries < 600 && $(kill -0 "$pid" 2>/dev/null && echo 1 || echo 0); tries++)); do
      sleep 0.1
    done
  done
}

render_faults() {
  local kind=$1 out folder tmp
  folder="$work/render-$kind"
  tmp="$work/tmp-$kind"
  mkdir -p "$folder" "$tmp"
  case $kind in
    frames) out="$folder" ;;
    *) out="$folder/v.$kind" ;;
  esac
  local args=(render -m Pellox --seed 1 --size "$size" --duration "$duration")
  # The shorter of two undisturbed runs sets the range of the moments to kill at.
  local start end span=999999 try
  for try in 1 2; do
    start=$(date +%s%N)
    TMPDIR="$tmp" "$bin" "${args[@]}" -o "$out" >/dev/null 2>&1
    end=$(date +%s%N)
    span=$(( (end - start) / 1000000 < span ? (end - start) / 1000000 : span ))
    clear_output "$out" "$kind"
  done
  local killed=0 finished=0 broken=0 failed=0 stale=0 leftBehind=0 round
  for ((round = 0; round < rounds; round++)); do
    TMPDIR="$tmp" "$bin" "${args[@]}" -y -o "$out" >/dev/null 2>&1 &
    local pid=$!
    sleep "$(awk -v ms=$((RANDOM * span / 32768)) 'BEGIN { printf "%.3f", ms / 1000 }')"
    local children
    children=$(pgrep -P "$pid" | tr '\n' ' ')
    kill -KILL "$pid" 2>/dev/null
    { wait "$pid"; } 2>/dev/null
    [ $? -eq 137 ] && killed=$((killed + 1)) || finished=$((finished + 1))
    # Whole or absent, never half-written.
    if [ "$kind" = frames ]; then
      if compgen -G "$out/frame_*.png" >/dev/null; then
        whole "$out" "$kind" || broken=$((broken + 1))
      fi
    elif [ -e "$out" ]; then
      whole "$out" "$kind" || broken=$((broken + 1))
    fi
    [ -n "$(leftovers "$folder" "$tmp")" ] && leftBehind=$((leftBehind + 1))
    clear_output "$out" "$kind"
    # The next run, at once (the dead run's ffmpeg may still be finishing), without -y.
    local message
    if ! message=$(TMPDIR="$tmp" "$bin" "${args[@]}" -o "$out" 2>&1 >/dev/null); then
      failed=$((failed + 1))
      echo "  $kind round $round: the next run failed: $(echo "$message" | tail -1)" >&2
    elif ! whole "$out" "$kind"; then
      failed=$((failed + 1))
      echo "  $kind round $round: the next run's output is not whole" >&2
    fi
    # shellcheck disable=SC2086
    wait_gone $children
    local left
    left=$(leftovers "$folder" "$tmp")
    if [ -n "$left" ]; then
      stale=$((stale + 1))
      echo "  $kind round $round: left behind: $(echo $left)" >&2
      rm -rf "${tmp:?}"/* "$tmp"/.[!.]* "$folder"/.[!.]*
    fi
    clear_output "$out" "$kind"
  done
  row "render $kind, SIGKILL at random (0-${span} ms)" "$rounds" \
      "$((rounds - broken - failed - stale))" \
      "killed $killed (finished first $finished); dead run left files $leftBehind times; half-written $broken; next run failed $failed; still there after it $stale"
}

for kind in mp4 mkv webm gif png frames; do
  echo "faults: renders to $kind..." >&2
  render_faults "$kind"
done

# --- Settings writers killed at random ----------------------------------------------

echo "faults: settings writers..." >&2
ini="$work/ini"
mkdir -p "$ini"
cat >"$work/writer.py" <<'EOF'
# One writer: keys k0, k1, ... of its own section, each reported on standard output
# once the write has returned success.
import ctypes, os, sys
lib = ctypes.CDLL(sys.argv[1])
path, name = sys.argv[2].encode(), sys.argv[3]
n = 0
while True:
    if lib.WritePrivateProfileStringA(name.encode(), b"k%d" % n, b"v%d" % n, path):
        os.write(1, b"%d\n" % n)
        n += 1
EOF
cat >"$work/check.py" <<'EOF'
# The file is well formed and holds every key that a writer saw written. Prints the
# count of bad lines and of lost keys.
import sys
text = open(sys.argv[1], "rb").read().decode("latin-1")
sections, current, bad = {}, None, 0
for line in text.split("\n"):
    line = line.rstrip("\r").strip()
    if not line or line.startswith(";"):
        continue
    if line.startswith("[") and line.endswith("]"):
        current = sections.setdefault(line[1:-1], {})
    elif "=" in line and current is not None:
        key, value = line.split("=", 1)
        current[key] = value
    else:
        bad += 1
lost = 0
for log in sys.argv[2:]:
    name = log.rsplit("/", 1)[1]
    for n in open(log).read().split():
        if sections.get(name, {}).get("k" + n) != "v" + n:
            lost += 1
print(bad, lost)
EOF
malformed=0 lost=0 temporaries=0 writes=0 badRounds=0
for ((round = 0; round < iniRounds; round++)); do
  pids=()
  logs=()
  for w in 0 1 2 3 4 5 6 7; do
    name="W${round}x$w"
    "$python" "$work/writer.py" "$lib" "$ini/plugin.ini" "$name" >"$work/$name" &
    pids+=($!)
    logs+=("$work/$name")
  done
  for pid in "${pids[@]}"; do
    ( sleep "$(awk -v r=$RANDOM 'BEGIN { printf "%.3f", 0.2 + r / 32768 * 1.5 }')"; kill -KILL "$pid" ) &
  done
  { wait; } 2>/dev/null  # the shell's own "Killed" notes
  read -r bad missing < <("$python" "$work/check.py" "$ini/plugin.ini" "${logs[@]}")
  [ "$bad" -gt 0 ] && malformed=$((malformed + 1))
  lost=$((lost + missing))
  writes=$((writes + $(cat "${logs[@]}" | wc -l)))
  # The next write clears what a writer killed before its rename left.
  "$python" -c "import ctypes, sys; ctypes.CDLL(sys.argv[1]).WritePrivateProfileStringA(b'Next', b'k', b'v', sys.argv[2].encode())" "$lib" "$ini/plugin.ini"
  left=0
  [ "$(ls -A "$ini")" = plugin.ini ] || { left=1; temporaries=$((temporaries + 1)); }
  [ "$bad" -gt 0 ] || [ "$missing" -gt 0 ] || [ "$left" -gt 0 ] && badRounds=$((badRounds + 1))
done
row "settings: 8 writers SIGKILLed at random" "$iniRounds" "$((iniRounds - badRounds))" \
    "$writes writes returned success; malformed files $malformed; keys lost $lost; temporary files left after the next write $temporaries"

# --- play: the sound server and the window taken away -------------------------------

echo "faults: play..." >&2
startx
pulse="$work/pulse"
mkdir -p "$pulse"
cat >"$pulse/server.pa" <<EOF
load-module module-null-sink sink_name=vsink
load-module module-native-protocol-unix auth-anonymous=1 socket=$pulse/native
EOF
pulsePid=""
startpulse() {
  HOME="$pulse" XDG_RUNTIME_DIR="$pulse" PULSE_RUNTIME_PATH="$pulse" pulseaudio --daemonize=no \
    --exit-idle-time=-1 -n -F "$pulse/server.pa" --log-target=stderr >"$pulse/log" 2>&1 &
  pulsePid=$!
  local tries=0
  while [ ! -S "$pulse/native" ] && [ $((tries++)) -lt 100 ]; do sleep 0.1; done
}
# playing LOG: starts play on the demo tune through the sound server; $player.
playing() {
  PULSE_SERVER="unix:$pulse/native" SDL_AUDIODRIVER=pulseaudio "$bin" play -m Pellox \
    --size 160x120 >"$1" 2>&1 &
  player=$!
  sleep 3
}
# outcome LOG: how play ended, or that it still played (then stopped with SIGTERM),
# and what it said; survived: it went on, or ended with one line and a status of its
# own (not a crash; 0 for a window closed as a quit).
outcome() {
  local state status lines
  if kill -0 "$player" 2>/dev/null; then
    kill -TERM "$player"
    wait "$player"
    status=$?
    state="still playing (then SIGTERM: status $status)"
    [ "$status" -eq 143 ] && survived=1 || survived=0
  else
    wait "$player"
    status=$?
    state="ended with status $status"
    [ "$status" -le 2 ] && survived=1 || survived=0
  fi
  player=""
  lines=$(grep -c . "$1")
  [ "$lines" -le 1 ] || survived=0
  said="$state; $lines line(s) on stderr: $(tr '\n' '|' <"$1" | cut -c1-200)"
}

trap '[ -n "$pulsePid" ] && kill "$pulsePid" 2>/dev/null; bench_cleanup' EXIT
startpulse
playing "$work/play1.log"
kill -KILL "$pulsePid"
wait "$pulsePid" 2>/dev/null
rm -f "$pulse/native"
sleep 2
alive=$(kill -0 "$player" 2>/dev/null && echo yes || echo no)
startpulse
sleep 4
outcome "$work/play1.log"
[ "$alive" = yes ] || survived=0
row "play: sound server SIGKILLed, back 2 s on" 1 "$survived" \
    "alive after the server died: $alive; $said"

playing "$work/play2.log"
window=$(xdotool search --pid "$player" 2>/dev/null | head -1)
[ -n "$window" ] && xdotool windowclose "$window" 2>/dev/null
sleep 2
outcome "$work/play2.log"
row "play: its window destroyed (windowclose)" 1 "$survived" "$said"

playing "$work/play3.log"
window=$(xdotool search --pid "$player" 2>/dev/null | head -1)
[ -n "$window" ] && xkill -id "$window" >/dev/null 2>&1
sleep 2
outcome "$work/play3.log"
row "play: its X connection cut (xkill)" 1 "$survived" "$said"
kill "$pulsePid" 2>/dev/null
wait "$pulsePid" 2>/dev/null
pulsePid=""

printf '%-44s %6s %9s  %s\n' "fault" "tries" "survived" "what happened"
printf '%s\n' "${rows[@]}"
