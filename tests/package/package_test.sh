#!/usr/bin/env bash
# orlimvis as users get it, in two modes:
#   tree BUILD  `cmake --install` of the build folder into a scratch prefix: the copy
#               there runs from its private library folder alone (no build paths in its
#               RPATH), lists the modules, renders a PNG, keeps window positions under
#               $XDG_CONFIG_HOME/orlimvis/, and has its manual page and completion.
#   deb BUILD   the Debian package: made by CPack into a scratch folder, its Depends
#               checked against what the binaries link, installed with dpkg -i, used as
#               above from /usr, then removed. Needs root and no orlimvis already in
#               /usr; otherwise skipped (status 77) with the reason.
#   lintian BUILD  the same package, checked by lintian at its default level (errors
#               and warnings), with Debian's profile and no one's configuration: any
#               tag fails. Needs no root.
set -euo pipefail
mode=${1:?tree or deb}
build=$(cd "${2:?build folder}" && pwd)
scratch=$(mktemp -d /tmp/orlimvis-package-XXXXXX)
# The private library folder under the prefix: the multiarch one, as Debian has it.
private=lib/$(gcc -print-multiarch)/orlimvis
installed=""
cleanup() {
  if [ -n "$installed" ]; then dpkg_locked -P orlimvis >/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIPPED: $*"; exit 77; }

# dpkg with a wait for its lock, which another installation may hold for a while.
dpkg_locked() {
  local tries=0 log="$scratch/dpkg.log"
  until dpkg "$@" >"$log" 2>&1; do
    if grep -q "lock" "$log" && [ $tries -lt 120 ]; then
      tries=$((tries + 1)); sleep 5; continue
    fi
    cat "$log" >&2
    return 1
  done
}

# The package, made by CPack in the scratch folder from the build's configuration; its
# path goes to standard output. (It lands in dist/ of the current folder: the scratch
# one, not the build's.)
make_package() {
  (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -B "$scratch/package") \
    >"$scratch/cpack.log" 2>&1 || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
  ls "$scratch"/dist/orlimvis_*.deb
}

# The checks of an installed copy: $1 the program, $2 its private library folder,
# $3 the prefix (for the manual page and the completion).
check_copy() {
  local bin=$1 lib=$2 prefix=$3
  unset LD_LIBRARY_PATH
  [ -x "$bin" ] || fail "$bin is missing"
  for f in "$lib/vis_orlim.so" "$lib/libvisplatform.so"; do [ -f "$f" ] || fail "$f is missing"; done
  if readelf -d "$bin" "$lib/vis_orlim.so" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "an RPATH still points into the build folder"
  fi
  local taken
  taken=$(ldd "$bin" | awk '$1 == "libvisplatform.so" { print $3 }')
  [ "$(readlink -f "$taken")" = "$(readlink -f "$lib/libvisplatform.so")" ] ||
    fail "$bin takes libvisplatform from '$taken', not $lib"
  "$bin" --version | grep -q '^orlimvis [0-9]' || fail "--version"
  local list
  list=$("$bin" list) || fail "orlimvis list failed"
  [ "$list" = "$(printf "Orlim's Visualizations Volume 1\n  0  Zarvenn\n  1  Pellox\n  2  Ambrith\n  3  Tovanel")" ] ||
    fail "orlimvis list printed: $list"
  XDG_CONFIG_HOME="$scratch/config" "$bin" render -m Pellox --duration 2 --size 64x48 \
    -o "$scratch/snapshot.png" || fail "the PNG render failed"
  [ "$(head -c 4 "$scratch/snapshot.png" | tail -c 3)" = "PNG" ] || fail "no PNG written"
  # The plug-in's own rule would put plugin.ini in the library folder, shared by every
  # user; an installed copy keeps it per user.
  grep -q '^\[Pellox\]' "$scratch/config/orlimvis/plugin.ini" ||
    fail "no [Pellox] section in \$XDG_CONFIG_HOME/orlimvis/plugin.ini"
  [ ! -e "$lib/plugin.ini" ] || fail "plugin.ini was written into $lib"
  local manual="$prefix/share/man/man1/orlimvis.1.gz"
  gzip -t "$manual" || fail "$manual is not a gzip file"
  local warnings
  warnings=$(zcat "$manual" | groff -man -Tutf8 -ww -z 2>&1) || fail "groff failed on the manual"
  [ -z "$warnings" ] || fail "groff warns about the manual: $warnings"
  local completion="$prefix/share/bash-completion/completions/orlimvis"
  bash -c "source '$completion' && complete -p orlimvis" >/dev/null || fail "$completion"
  rm -rf "$scratch/config" "$scratch/snapshot.png"
}

case $mode in
  tree)
    cmake --install "$build" --prefix "$scratch/usr" >/dev/null
    files=$(cd "$scratch/usr" && find . -type f | sort | tr '\n' ' ')
    [ "$files" = "./bin/orlimvis ./$private/libvisplatform.so ./$private/vis_orlim.so ./share/bash-completion/completions/orlimvis ./share/doc/orlimvis/changelog.gz ./share/doc/orlimvis/copyright ./share/man/man1/orlimvis.1.gz " ] ||
      fail "installed files: $files"
    check_copy "$scratch/usr/bin/orlimvis" "$scratch/usr/$private" "$scratch/usr"
    echo "install tree: ok"
    ;;
  deb)
    [ "$(id -u)" -eq 0 ] || skip "installing a package with dpkg -i needs root"
    # One package test on the machine at a time, whichever build folder it runs from
    # (CTest's RESOURCE_LOCK covers only one ctest run).
    exec 9>/tmp/orlimvis-package-test.lock
    flock -w 900 9 || skip "another orlimvis package test kept /tmp/orlimvis-package-test.lock for 15 minutes"
    if dpkg-query -W -f='${Status}' orlimvis 2>/dev/null | grep -q 'install ok installed'; then
      skip "an orlimvis package is already installed; this test will not replace it"
    fi
    [ ! -e /usr/bin/orlimvis ] && [ ! -e /usr/$private ] ||
      skip "/usr/bin/orlimvis or /usr/$private exists; this test will not touch it"
    deb=$(make_package)
    depends=$(dpkg-deb -f "$deb" Depends)
    # Every library the binaries name (but the package's own) comes from a package the
    # .deb depends on; ffmpeg is run, not linked, and must be there too.
    for object in "$build/orlimvis" "$build/vis_orlim.so" "$build/libvisplatform.so"; do
      for needed in $(readelf -d "$object" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
        [ "$needed" = libvisplatform.so ] && continue
        # "libc.so.6 => /lib/.../libc.so.6 (...)", or for the loader "/lib64/ld-linux... (...)".
        path=$(ldd "$object" | awk -v n="$needed" '$1 == n { print $3 } $2 != "=>" && $1 ~ ("/" n "$") { print $1 }')
        [ -n "$path" ] || fail "ldd does not resolve $needed of $object"
        owner=$(dpkg -S "$(readlink -f "$path")" 2>/dev/null | head -1 | cut -d: -f1) ||
          owner=$(dpkg -S "$path" | head -1 | cut -d: -f1)
        [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
          fail "$needed comes from $owner, which Depends ($depends) leaves out"
      done
    done
    [[ ", $depends," == *", ffmpeg,"* || ", $depends," == *", ffmpeg "* ]] ||
      fail "Depends ($depends) leaves out ffmpeg"
    installed=yes
    dpkg_locked -i "$deb" || fail "dpkg -i $deb failed"
    [ "$(dpkg-query -W -f='${Status}' orlimvis)" = "install ok installed" ] || fail "not installed"
    check_copy /usr/bin/orlimvis /usr/$private /usr
    dpkg_locked -P orlimvis || fail "dpkg -P orlimvis failed"
    installed=""
    [ ! -e /usr/bin/orlimvis ] && [ ! -e /usr/$private ] ||
      fail "dpkg -P left /usr/bin/orlimvis or /usr/$private behind"
    echo "package $(basename "$deb"): ok (Depends: $depends)"
    ;;
  lintian)
    command -v lintian >/dev/null || fail "lintian is not installed (scripts/deps.sh installs it)"
    deb=$(make_package)
    # lintian warns on standard error when run as root; its tags go to standard output.
    if ! lintian --no-cfg --profile debian --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>"$scratch/lintian.err"; then
      cat "$scratch/lintian.log" "$scratch/lintian.err" >&2
      fail "lintian finds fault with $(basename "$deb")"
    fi
    # --fail-on leaves the status at 0 when lintian could not check the package at all.
    [ ! -s "$scratch/lintian.log" ] || { cat "$scratch/lintian.log" >&2; fail "lintian printed tags"; }
    echo "lintian: $(basename "$deb") is clean"
    ;;
  *) fail "unknown mode $mode" ;;
esac
