# Thin wrapper over CMake presets. `make run` and `make test` work on a fresh
# Debian machine: they install what the build needs first.
SHELL := /bin/bash
JOBS ?= 2
DEPS_STAMP := build/.deps-installed

.PHONY: all deps build build-asan run test test-release test-asan format-check bench fuzz clean

all: build

$(DEPS_STAMP): scripts/install-deps
	./scripts/install-deps
	@mkdir -p build && touch $@

deps: $(DEPS_STAMP)

build: $(DEPS_STAMP)
	cmake --preset release
	cmake --build --preset release -j$(JOBS)

build-asan: $(DEPS_STAMP)
	cmake --preset asan
	cmake --build --preset asan -j$(JOBS)

# The main job on the bundled example.
run: build
	./scripts/run-example build/release

test-release: build
	ctest --preset release -j$(JOBS)

test-asan: build-asan
	ctest --preset asan -j$(JOBS)

test: test-release test-asan format-check

format-check: $(DEPS_STAMP)
	./scripts/check-format

bench: build
	@echo "benchmarks arrive with the walkers"

fuzz:
	@echo "fuzz targets arrive with the robustness work"

clean:
	rm -rf build
