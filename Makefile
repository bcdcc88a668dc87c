# The two front-door commands. Both set up everything on a fresh Debian machine.
#   make demo   run the simulated wall
#   make test   build and run every test
#   make fuzz   build the fuzz targets with clang and run each FUZZ_SECONDS
BUILD        ?= build
ASAN_BUILD   ?= build-asan
CLANG_BUILD  ?= build-clang
TSAN_BUILD   ?= build-tsan
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS         ?= $(shell nproc)
CMAKE_FLAGS  ?=

.PHONY: all deps configure build check-arrows test test-asan test-clang test-tsan format-check fuzz demo bench clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Every quoted include against the arrows written in docs/architecture.md.
check-arrows:
	@scripts/check-arrows

test: check-arrows build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The same suite built with AddressSanitizer + UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORV_ASAN=ON -DORV_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	LSAN_OPTIONS="suppressions=$(CURDIR)/tests/lsan.supp $$LSAN_OPTIONS" \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600

# The suite built with clang, every warning an error (the thread-safety
# analysis included).
test-clang: deps
	CC=clang CXX=clang++ cmake -S . -B $(CLANG_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORV_WERROR=ON -DORV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(CLANG_BUILD) -j $(JOBS)
	ctest --test-dir $(CLANG_BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The suite under ThreadSanitizer; any report fails the test that caused it.
# Tests that run Qt's event loop (label gui, and the zone players on X11) are
# left out: Debian's Qt is not built with ThreadSanitizer, so its own
# threads' synchronisation is invisible and it reports races inside Qt. The
# panel's logic and client without Qt run here like everything else.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_TSAN=ON \
	  -DORV_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 $$TSAN_OPTIONS" \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) --timeout 600 \
	  -LE gui -E '^ZonePlayers\.'

# Every tracked C++ file as .clang-format wants it.
format-check:
	git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run -Werror
# Every fuzz target (clang, ASan + UBSan + libFuzzer) over a copy of its corpus.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORV_FUZZ=ON \
	  -DORV_BUILD_BENCH=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target orv_fuzzers
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: build
	@scripts/demo $(BUILD)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(CLANG_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
