# Quick start on a fresh Debian machine: `make demo`, `make test`.
#   make demo      the player's packages only, the linux preset without tests, the demo
#   make test      every package, every preset (plus the sanitizer and fuzz builds), every test
#   make install   bin/orlimvis and its private lib/<multiarch>/orlimvis/ under PREFIX (DESTDIR too)
#   make package   the Debian package, build/package/dist/orlimvis_VERSION_ARCH.deb
#   make dist      the package and the zip for Windows users (vis_orlim.dll + README.txt)
#   make look      every effect on real recordings (fetched into build/look/), measured
PRESETS := mingw-i686 linux linux-i386 linux-aarch64
# Built for the tests only: the sanitizer suite and the libFuzzer targets.
CHECKED := linux-asan fuzz
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: all deps deps-demo deps-package build build-checked test fuzz demo bench look install package dist clean

all: build

deps:
	@bash scripts/deps.sh

deps-demo:
	@bash scripts/deps.sh demo

deps-package:
	@bash scripts/deps.sh package

# The linux preset's tests and benchmarks are asked for explicitly: a `make demo` before
# leaves them off in the cache.
build: deps
	@for p in $(PRESETS); do \
	  extra=""; [ $$p = linux ] && extra="-DVIS_TESTS=ON -DVIS_BENCH=ON"; \
	  cmake --preset $$p $$extra >/dev/null && cmake --build --preset $$p || exit 1; \
	done

build-checked: deps
	@for p in $(CHECKED); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done

test: build build-checked
	ctest --preset linux
	ctest --preset linux-i386
	ctest --preset linux-aarch64
	ctest --preset linux-asan
	ctest --preset fuzz

# Each libFuzzer target for FUZZ_SECONDS, keeping what it finds in build/fuzz/corpus.
fuzz: deps
	@cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

# Only the player and the plug-in: no GoogleTest, Google Benchmark, Wine or mingw-w64.
demo: deps-demo
	@cmake --preset linux -DVIS_TESTS=OFF -DVIS_BENCH=OFF >/dev/null
	@cmake --build --preset linux --target orlimvis
	@bash scripts/demo.sh

bench: deps
	@for p in linux mingw-i686; do \
	  extra=""; [ $$p = linux ] && extra="-DVIS_TESTS=ON -DVIS_BENCH=ON"; \
	  cmake --preset $$p $$extra >/dev/null && cmake --build --preset $$p || exit 1; \
	done
	@bash scripts/bench.sh
	@bash scripts/bench_stream.sh
	@bash scripts/bench_live.sh
	@bash scripts/bench_video.sh
	@bash scripts/bench_wine.sh

# A first configure here leaves the tests off, as `make demo` does (they need packages
# beyond the demo's); an existing build folder keeps its settings.
install: deps-demo
	@cmake --preset linux $(if $(wildcard build/linux/CMakeCache.txt),,-DVIS_TESTS=OFF -DVIS_BENCH=OFF) >/dev/null
	@cmake --build --preset linux --target orlimvis orlimvis_manual
	cmake --install build/linux --prefix $(PREFIX)

# Only what goes into the package (the package preset's build targets: the program, the
# plug-in, libvisplatform, the manual page and the changelog), in a build folder of its
# own, so the linux preset's test build keeps its settings. cpack is run by hand
# because the `package` target would build everything first. Then lintian's verdict.
package: deps-package
	@cmake --preset package >/dev/null
	@cmake --build --preset package
	@rm -f build/package/dist/*.deb
	@cd build/package && cpack >/dev/null && ls -1 "$$PWD"/dist/*.deb
	@lintian --fail-on error,warning build/package/dist/*.deb 2>/dev/null && echo "lintian: clean"

dist: package
	@cmake --preset mingw-i686 >/dev/null && cmake --build --preset mingw-i686 --target vis_orlim
	@cmake --build --preset package --target windows_zip
	@ls -1 build/package/dist/*.deb build/package/dist/*.zip

# Not part of `make test`: fetches Debian's game music (some 300 MB) into build/look/.
look: deps
	@cmake --preset linux >/dev/null && cmake --build --preset linux --target orlimvis_look_tool
	@bash scripts/look.sh

clean:
	rm -rf build
