# Sourced by the bench scripts: their checks, their scratch folder and a private X
# server, so that each script says only what it measures.

# need_builds FILE...: each must be an executable this project builds.
need_builds() {
  local file
  for file; do
    [ -x "$file" ] || { echo "bench: $file is missing; build the linux preset first" >&2; exit 1; }
  done
}

# need_tools NAME...: each must be on the PATH.
need_tools() {
  local tool
  for tool; do
    command -v "$tool" >/dev/null || { echo "bench: $tool is not on the PATH (scripts/deps.sh)" >&2; exit 1; }
  done
}

# bench_scratch NAME: $work, a scratch folder removed on exit together with the player
# ($player) and the X server ($xvfb) still running then.
xvfb=""
player=""
bench_cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
bench_scratch() {
  work=$(mktemp -d "/tmp/orlimvis-$1-XXXXXX")
  trap bench_cleanup EXIT
}

# startx: a private X server as $DISPLAY (again, when the last one has gone: on a
# shared machine a long run may outlive it).
startx() {
  exec 3< <(Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
  read -r _ xvfb <&3
  read -r display <&3
  export DISPLAY=":$display"
}
