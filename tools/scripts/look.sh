#!/usr/bin/env bash
# make look: how the effects look on real recordings that no one here made. Fetches
# Debian's packages of game music with `apt-get download` (no install) into build/look/
# (never committed): wesnoth-1.16-music (orchestral), the music of supertux-data
# (chiptune and electronic), fretsonfire-songs-muldjord (metal with guitars and vocals;
# each song comes as a backing and a guitar track, which ffmpeg mixes into one),
# drascula-music (an adventure game's score) and singularity-music (ambient
# electronic). Renders every track with every effect at 640x480 with a fixed seed,
# prints per track how the particles hear their bands and per effect the figures, and
# writes one contact sheet per track and effect to build/look/sheets/. Needs the linux
# preset built (make look does it).
#
#   LOOK_TRACKS=N         only N tracks of each package, spread evenly through its list
#   LOOK_SECONDS=S        only the first S seconds of each track
#   LOOK_BANDS=log        the logarithmic layout instead, for comparison (sheets-log/)
#   LOOK_LEVELS=linear    the classic layout's linear levels instead (sheets-linear/)
#   LOOK_HEARING_ONLY=1   the hearing line alone, nothing drawn: quick
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
look="$root/build/look"
tool="$root/build/linux/orlimvis_look"
[ -x "$tool" ] || { echo "look: $tool is not built (cmake --build --preset linux)" >&2; exit 1; }
mkdir -p "$look/debs" "$look/extracted" "$look/plugin" "$look/mixed"

cd "$look/debs"
for package in wesnoth-1.16-music supertux-data fretsonfire-songs-muldjord drascula-music \
               singularity-music; do
  if ! ls "${package}"_*.deb >/dev/null 2>&1; then
    apt-get download "$package" || {
      echo "look: cannot download $package (try: sudo apt-get update)" >&2; exit 1; }
  fi
done
for deb in *.deb; do
  if [ ! -e "$look/extracted/.$deb.done" ]; then
    dpkg-deb -x "$deb" "$look/extracted"
    touch "$look/extracted/.$deb.done"
  fi
done

# N names spread evenly through a sorted list (all of them when N is empty).
pick() {
  local n=$1; shift
  local all=("$@") count=$#
  if [ -z "$n" ] || [ "$n" -ge "$count" ]; then printf '%s\n' "${all[@]}"; return; fi
  for ((i = 0; i < n; i++)); do printf '%s\n' "${all[$((i * count / n))]}"; done
}
shared="$look/extracted/usr/share"
# A song of the guitar game is its backing (drums, bass, vocals) and its guitar, played
# together; mixed once into FLAC, written under a temporary name and renamed when whole.
for song in "$shared"/games/fretsonfire/data/songs/muldjord/*/; do
  name=$(basename "$song")
  if [ ! -e "$look/mixed/$name.flac" ]; then
    ffmpeg -v error -nostdin -y -i "$song/song.ogg" -i "$song/guitar.ogg" \
      -filter_complex amix=inputs=2:normalize=0 -c:a flac -f flac "$look/mixed/.$name.new"
    mv -f "$look/mixed/.$name.new" "$look/mixed/$name.flac"
  fi
done
mapfile -t orchestral < <(find "$shared/games/wesnoth" -path '*/music/*' -name '*.ogg' | sort)
mapfile -t chiptune < <(find "$shared/games/supertux2/music" -name '*.ogg' | sort)
mapfile -t metal < <(find "$look/mixed" -name '*.flac' | sort)
mapfile -t adventure < <(find "$shared/scummvm/drascula/audio" -name '*.ogg' | sort -V)
mapfile -t ambient < <(find "$shared/games/singularity/music" -maxdepth 1 -name '*.ogg' | sort)
for kind in orchestral chiptune metal adventure ambient; do
  declare -n list=$kind
  [ ${#list[@]} -gt 0 ] || { echo "look: no $kind music found under $look" >&2; exit 1; }
done
mapfile -t tracks < <(for kind in orchestral chiptune metal adventure ambient; do
  declare -n list=$kind
  pick "${LOOK_TRACKS:-}" "${list[@]}"
done)

# A copy of the plug-in, so that the settings file it keeps beside itself stays here.
# Copied under a new name and renamed, so that a look run still going keeps its own.
cp "$root/build/linux/vis_orlim.so" "$look/plugin/.vis_orlim.so.new"
mv -f "$look/plugin/.vis_orlim.so.new" "$look/plugin/vis_orlim.so"
bands=${LOOK_BANDS:-classic}
levels=${LOOK_LEVELS:-db}
case "$bands/$levels" in
  classic/db) name=classic ;;
  classic/linear) name=linear ;;
  log/db) name=log ;;
  *) echo "look: LOOK_BANDS=$bands LOOK_LEVELS=$levels: expected classic or log, and db" \
       "or linear (classic only)" >&2; exit 1 ;;
esac
sheets="$look/sheets"
[ "$name" = classic ] || sheets="$look/sheets-$name"
mkdir -p "$sheets"
args=(--plugin "$look/plugin/vis_orlim.so" --out "$sheets" --seed 7 --bands "$bands"
      --levels "$levels")
[ -n "${LOOK_SECONDS:-}" ] && args+=(--seconds "$LOOK_SECONDS")
figures="$look/figures-$name.txt"
if [ -n "${LOOK_HEARING_ONLY:-}" ]; then
  args+=(--hearing-only)
  figures="$look/hearing-$name.txt"
fi
echo "look: ${#tracks[@]} tracks, $bands bands, $levels levels; contact sheets in $sheets" >&2
# A track that cannot be decoded is left out and named; the others are measured.
status=0
"$tool" "${args[@]}" "${tracks[@]}" | tee "$figures" || status=$?
exit "$status"

