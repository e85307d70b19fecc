# Quick start on a fresh Debian machine: `make demo`, `make test`.
PRESETS := mingw-i686 linux linux-i386
# Built for the tests only: the sanitizer suite and the libFuzzer targets.
CHECKED := linux-asan fuzz
FUZZ_SECONDS ?= 60

.PHONY: all deps build build-checked test fuzz demo bench clean

all: build

deps:
	@bash scripts/deps.sh

build: deps
	@for p in $(PRESETS); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done

build-checked: deps
	@for p in $(CHECKED); do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done

test: build build-checked
	ctest --preset linux
	ctest --preset linux-i386
	ctest --preset linux-asan
	ctest --preset fuzz

# Each libFuzzer target for FUZZ_SECONDS, keeping what it finds in build/fuzz/corpus.
fuzz: deps
	@cmake --preset fuzz >/dev/null && cmake --build --preset fuzz
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

demo: deps
	@cmake --preset linux >/dev/null && cmake --build --preset linux
	@bash scripts/demo.sh

bench: deps
	@for p in linux mingw-i686; do \
	  cmake --preset $$p >/dev/null && cmake --build --preset $$p || exit 1; \
	done
	@bash scripts/bench.sh
	@bash scripts/bench_stream.sh
	@bash scripts/bench_wine.sh

clean:
	rm -rf build
