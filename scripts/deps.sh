#!/usr/bin/env bash
# Installs every Debian package the project needs to build all three presets, run the
# tests (including the Wine oracle under Xvfb) and run the player. Idempotent: when all
# packages are present it only checks and returns within a second or two.
set -euo pipefail

native=(
  build-essential cmake ninja-build pkg-config git
  g++-multilib                 # the -m32 build of the plug-in core and its tests
  g++-mingw-w64-i686           # the real 32-bit DLL
  googletest libgtest-dev libbenchmark-dev
  libsdl2-dev libfftw3-dev libpng-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev  # the player's decoding
  libpulse-dev                 # the sound server's inputs, by the names users see
  pulseaudio pulseaudio-utils  # a private sound server for the capture tests
  ffmpeg                       # video output of the player, ffprobe in the tests
  xvfb xauth xdotool x11-apps  # headless windows for the live player and Wine
  wine
  clang-14 libclang-rt-14-dev  # libFuzzer and the sanitizers' runtimes (the fuzz preset)
)
foreign=(wine32:i386)          # Wine's 32-bit part runs the i686 DLL and test hosts

missing=()
for p in "${native[@]}" "${foreign[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "deps: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
