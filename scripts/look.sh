#!/usr/bin/env bash
# make look: how the effects look on real recordings that no one here made. Fetches
# Debian's packages of game music with `apt-get download` (no install) into build/look/
# (never committed): wesnoth-1.16-music (orchestral) and the music of supertux-data
# (electronic), renders every track with every effect at 640x480 with a fixed seed,
# prints the figures per track and effect, and writes one contact sheet per track and
# effect to build/look/sheets/. Needs the linux preset built (make look does it).
#
#   LOOK_TRACKS=N    only N tracks of each package, spread evenly through its list
#   LOOK_SECONDS=S   only the first S seconds of each track
#   LOOK_BANDS=log   the logarithmic layout instead, for comparison (sheets-log/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
look="$root/build/look"
tool="$root/build/linux/orlimvis_look"
[ -x "$tool" ] || { echo "look: $tool is not built (cmake --build --preset linux)" >&2; exit 1; }
mkdir -p "$look/debs" "$look/extracted" "$look/plugin"

cd "$look/debs"
for package in wesnoth-1.16-music supertux-data; do
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
shared="$look/extracted/usr/share/games"
mapfile -t orchestral < <(find "$shared/wesnoth" -path '*/music/*' -name '*.ogg' | sort)
mapfile -t electronic < <(find "$shared/supertux2/music" -name '*.ogg' | sort)
[ ${#orchestral[@]} -gt 0 ] && [ ${#electronic[@]} -gt 0 ] || {
  echo "look: no music found under $shared" >&2; exit 1; }
mapfile -t tracks < <(pick "${LOOK_TRACKS:-}" "${orchestral[@]}"; pick "${LOOK_TRACKS:-}" "${electronic[@]}")

# A copy of the plug-in, so that the settings file it keeps beside itself stays here.
# Copied under a new name and renamed, so that a look run still going keeps its own.
cp "$root/build/linux/vis_orlim.so" "$look/plugin/.vis_orlim.so.new"
mv -f "$look/plugin/.vis_orlim.so.new" "$look/plugin/vis_orlim.so"
bands=${LOOK_BANDS:-classic}
case "$bands" in
  classic) sheets="$look/sheets" ;;
  log) sheets="$look/sheets-log" ;;
  *) echo "look: LOOK_BANDS=$bands: expected classic or log" >&2; exit 1 ;;
esac
mkdir -p "$sheets"
args=(--plugin "$look/plugin/vis_orlim.so" --out "$sheets" --seed 7 --bands "$bands")
[ -n "${LOOK_SECONDS:-}" ] && args+=(--seconds "$LOOK_SECONDS")
echo "look: ${#tracks[@]} tracks, $bands bands; contact sheets in $sheets" >&2
"$tool" "${args[@]}" "${tracks[@]}" | tee "$look/figures-$bands.txt"
