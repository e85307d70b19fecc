#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: when all packages are
# present it only checks and returns within a second or two.
#
#   scripts/deps.sh        everything: every preset, the tests (including the Wine
#                          oracle under Xvfb), the benchmarks, the package
#   scripts/deps.sh demo   only what `make demo` needs: the compiler, CMake, the
#                          player's libraries and ffmpeg (no Wine, no mingw-w64, no i386)
#   scripts/deps.sh package  what `make package` needs: the demo's packages and the
#                          Debian packaging tools
set -euo pipefail

demo=(
  build-essential cmake ninja-build pkg-config
  libsdl2-dev libfftw3-dev libpng-dev
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev  # the player's decoding
  libpulse-dev                 # the sound server's inputs, by the names users see
  ffmpeg                       # video output of the player, ffprobe in the tests
)
packaging=(
  dpkg-dev file                # make package: dpkg-shlibdeps (which needs file)
  lintian                      # checks the package as Debian checks its own (make package, the package test)
)
full=(
  git
  # The -m32 build of the plug-in core and its tests. The versioned package: the
  # unversioned g++-multilib conflicts with Debian's cross compilers (aarch64) and
  # would remove them.
  g++-12-multilib
  g++-mingw-w64-i686           # the real 32-bit DLL
  googletest libgtest-dev libbenchmark-dev
  libmpfr-dev                  # the oracle of the plug-in's sin, cos and atan2 (tests only)
  g++-aarch64-linux-gnu qemu-user  # the effects' tests built for aarch64, run emulated
  xvfb xauth xdotool x11-apps  # headless windows for the live player and Wine
  time                         # /usr/bin/time: CPU and memory figures in the benches
  wine
  clang-14 libclang-rt-14-dev  # libFuzzer and the sanitizers' runtimes (the fuzz preset)
  clang-format                 # the code's format (scripts/format.sh, a test)
  groff-base                   # the package test checks the manual page
  pulseaudio pulseaudio-utils  # a private sound server for the capture tests
  emscripten                   # the web page: the plug-in compiled to WebAssembly
  chromium chromium-driver python3-selenium  # the page's test in a headless browser
)
foreign=(
  wine32:i386                  # Wine's 32-bit part runs the i686 DLL and test hosts
  linux-libc-dev:i386          # the -m32 build's kernel headers (asm/errno.h)
)

case "${1:-all}" in
  demo) wanted=("${demo[@]}") ;;
  package) wanted=("${demo[@]}" "${packaging[@]}") ;;
  all) wanted=("${demo[@]}" "${packaging[@]}" "${full[@]}" "${foreign[@]}") ;;
  *) echo "deps: unknown set '$1' (demo, package or all)" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "deps: installing ${missing[*]}" >&2
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
