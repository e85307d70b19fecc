#!/usr/bin/env bash
# Installs every Debian package the project needs to build all four presets, run the
# tests (including the Wine oracle under Xvfb) and run the player. Idempotent: when all
# packages are present it only checks and returns within a second or two.
set -euo pipefail

native=(
  build-essential cmake ninja-build pkg-config git
  g++-multilib                 # the -m32 build of the plug-in core and its tests
  g++-mingw-w64-i686           # the real 32-bit DLL
  googletest libgtest-dev libbenchmark-dev
  libmpfr-dev                  # the oracle of the plug-in's sin, cos and atan2 (tests only)
  g++-aarch64-linux-gnu qemu-user  # the effects' tests built for aarch64, run emulated
  libsdl2-dev libsndfile1-dev libfftw3-dev libpng-dev
  ffmpeg                       # video output of the player, ffprobe in the tests
  xvfb xauth xdotool x11-apps  # headless windows for the live player and Wine
  wine
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
