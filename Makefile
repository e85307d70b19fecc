# Quick start on a fresh Debian machine: `make demo`, `make test`.
PRESETS := mingw-i686 linux linux-i386

.PHONY: all deps build test demo bench look clean

all: build

deps:
	@bash scripts/deps.sh

build: deps
	@for p in $(PRESETS); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done

test: build
	ctest --preset linux
	ctest --preset linux-i386

demo: deps
	@cmake --preset linux >/dev/null && cmake --build --preset linux
	@bash scripts/demo.sh

bench: deps
	@for p in linux mingw-i686; do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done
	@bash scripts/bench.sh
	@bash scripts/bench_wine.sh

# Not part of `make test`: fetches Debian's game music (some 300 MB) into build/look/.
look: deps
	@cmake --preset linux >/dev/null && cmake --build --preset linux --target orlimvis_look_tool
	@bash scripts/look.sh

clean:
	rm -rf build
