# Quick start on a fresh Debian machine: `make demo`, `make test`.
#   make demo      the player's packages only, the linux preset without tests, the demo
#   make test      every package, every preset (plus the sanitizer and fuzz builds), every test
#   make install   bin/orlimvis and its private lib/<multiarch>/orlimvis/ under PREFIX (DESTDIR too)
#   make package   the Debian package, build/package/dist/orlimvis_VERSION_ARCH.deb
#   make dist      the package and the zip for Windows users (vis_orlim.dll + README.txt)
#   make look      every effect on real recordings (fetched into build/look/), measured
#   make faults    renders, settings writers and play disturbed on purpose; what survived
#   make format    the lines changed since the formatter came in, in .clang-format's layout
#   make web       the web page into build/web/; make serve-web serves it on localhost
PRESETS := mingw-i686 linux linux-i386 linux-aarch64 web
# Built for the tests only: the sanitizer suite and the libFuzzer targets.
CHECKED := linux-asan fuzz
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: all deps deps-demo deps-package build build-checked test fuzz faults demo bench look install package dist clean \
        web serve-web bench-web format

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
	ctest --preset web
	ctest --preset linux-asan
	ctest --preset fuzz

# Each libFuzzer target for FUZZ_SECONDS, keeping what it finds in build/fuzz/corpus.
fuzz: deps
	@cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

# Faults injected on purpose (renders and settings writers killed at random moments,
# play's sound server and window taken away) and a table of what survived. Minutes,
# and not part of `make test`.
faults:
	@cmake --preset linux >/dev/null && cmake --build --preset linux --target orlimvis vis_orlim visplatform
	@bash scripts/faults.sh

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
	@bash tools/scripts/bench.sh
	@bash tools/scripts/bench_stream.sh
	@bash tools/scripts/bench_live.sh
	@bash tools/scripts/bench_video.sh
	@bash tools/scripts/bench_wine.sh
	@$(MAKE) --no-print-directory bench-web

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

# Not part of `make test`: fetches music from Debian's packages (some 420 MB) into build/look/.
look: deps
	@cmake --preset linux >/dev/null && cmake --build --preset linux --target orlimvis_look_tool
	@bash tools/scripts/look.sh

# The page and everything it loads, in build/web/ (copy that folder to any static host).
web: deps
	@cmake --preset web >/dev/null && cmake --build --preset web --target orlimvis_web orlimvis_check web_files

# Each effect's frame time in headless chromium beside the native .so, and the page's
# compressed size (tools/scripts/bench_web.py).
bench-web: web
	@cmake --build --preset web --target web_bench_files
	@cmake --preset linux -DVIS_TESTS=ON -DVIS_BENCH=ON >/dev/null && cmake --build --preset linux --target web_frame_time web_spectrum_dump
	@/usr/bin/python3 tools/scripts/bench_web.py

WEB_PORT ?= 8000
serve-web: web
	@echo "serving build/web on http://127.0.0.1:$(WEB_PORT)/ (Ctrl-C stops)"
	@python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory build/web

clean:
	rm -rf build

# The lines changed since the formatter came in, put in .clang-format's layout.
format:
	@bash scripts/format.sh --fix
