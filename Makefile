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

# Benchmarks on the release build: the Google Benchmarks with a short minimum
# time, then bench/scale, ocmap against pugixml's load of the same files,
# paired. A million routes needs many gigabytes and minutes, so it runs only
# when asked: make bench SIZES=10k,100k,1M. SCALE_FLAGS reaches bench/scale,
# e.g. SCALE_FLAGS="--rounds 11 --instr-sizes all" (valgrind at 1M takes long).
SIZES ?= 10k,100k
BENCH_MIN_TIME ?= 0.1
SCALE_FLAGS ?=
bench: build
	cmake --build --preset release -j$(JOBS) --target oclr_bench
	build/release/bin/bench_lookups --benchmark_min_time=$(BENCH_MIN_TIME)
	build/release/bin/bench_oc_walker --benchmark_min_time=$(BENCH_MIN_TIME)
	build/release/bin/bench_xo_walker --benchmark_min_time=$(BENCH_MIN_TIME)
	build/release/bin/bench_edit --benchmark_min_time=$(BENCH_MIN_TIME) \
	  $(if $(findstring 1M,$(SIZES)),,--benchmark_filter=-edit_mapping/1000000)
	./bench/scale --sizes $(SIZES) --ocmap build/release/bin/ocmap --out build/bench-scale \
	  $(SCALE_FLAGS)

# libFuzzer targets (clang), each run for FUZZ_SECONDS (default 60).
FUZZ_SECONDS ?= 60
fuzz: $(DEPS_STAMP)
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS) --target fuzz_oc_xml_request fuzz_oc_json_request \
	  fuzz_native_xml fuzz_sysdb
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./fuzz/run-fuzz build/fuzz

clean:
	rm -rf build
