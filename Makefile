# The two commands a new user needs: `make run` and `make test`.
JOBS    ?= $(shell nproc)
BUILD   ?= build
ASAN    ?= build-asan
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test deps build build-asan bench clean

deps:
	@./.ci/install-deps

build: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The engine's tests once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (with LeakSanitizer); no Qt in this build.
build-asan: deps
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DTRAFALYN_BUILD_UI=OFF \
	  -DTRAFALYN_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN) -j$(JOBS)

test: build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

# Throughput, memory and lock-hold benchmarks, optimised (-O2) in their own
# build directory; the generated capture files stay in build-bench/data.
BENCH_FRAMES ?= 1000000
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAFALYN_BUILD_UI=ON \
	  -DTRAFALYN_BUILD_BENCH=ON >/dev/null
	@cmake --build build-bench -j$(JOBS) --target trafalyn floor_loop model_bench lock_hold_bench
	@./bench/run_bench.sh build-bench $(BENCH_FRAMES)

run: build
	@./app/run.sh $(BUILD)

# PNGs of every tab after a replay of resources/sample.pcap, drawn on the
# offscreen platform, into docs/screenshots.
.PHONY: screenshots
screenshots: build
	cd $(BUILD)/tests/ui && QT_QPA_PLATFORM=offscreen TZ=UTC \
	  TRAFALYN_SCREENSHOT_DIR=$(CURDIR)/docs/screenshots ./screenshots_qtest

clean:
	rm -rf $(BUILD) $(ASAN) build-bench
