# The two commands a new user needs: `make run` and `make test`.
MAKEFLAGS += --no-print-directory
JOBS    ?= $(shell nproc)
BUILD   ?= build
ASAN    ?= build-asan
TSAN    ?= build-tsan
FUZZ    ?= build-fuzz
# Seconds each fuzz target runs in `make test`.
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test deps build build-asan build-tsan build-fuzz bench deb icons clean

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

# The engine's threads under ThreadSanitizer: the stress test and the tests
# of the capture controller and of concurrent filter replacement.
build-tsan: deps
	@cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAFALYN_BUILD_UI=OFF \
	  -DTRAFALYN_SANITIZE=thread >/dev/null
	@cmake --build $(TSAN) -j$(JOBS) --target core_tests

# libFuzzer targets (clang) over the decoder, the filter-rule loader, the
# capture-file replay and the readers of DNS answers and connection names,
# with AddressSanitizer and UndefinedBehaviorSanitizer.
build-fuzz: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DTRAFALYN_BUILD_UI=OFF -DTRAFALYN_BUILD_FUZZ=ON -DFUZZ_SECONDS=$(FUZZ_SECONDS) \
	  -DTRAFALYN_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
	@cmake --build $(FUZZ) -j$(JOBS) --target fuzz_decode_frames fuzz_filter_rules fuzz_replay_file \
	  fuzz_dns_answer fuzz_connection_name

test: build build-asan build-tsan build-fuzz
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)
	cd $(TSAN) && TSAN_OPTIONS=halt_on_error=1 \
	  ctest --output-on-failure -j$(JOBS) -R 'Stress|Concurrent|Controller|ActiveFilterRules|LogService|CaptureSession|TrafficEngine|FlowExporter|ReverseResolver|HostNames'
	cd $(FUZZ) && ctest --output-on-failure -j$(JOBS) -R '^fuzz_'

# Throughput, memory and lock-hold benchmarks, optimised (-O2) in their own
# build directory, of the headless program (no Qt needed); the generated
# capture files stay in build-bench/data.
# BASELINE is the commit measured beside this tree (built once, in
# build-bench); the live flood runs only as root.
BENCH_FRAMES ?= 1000000
BASELINE ?= 8b74c40
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAFALYN_BUILD_UI=OFF \
	  -DTRAFALYN_BUILD_BENCH=ON >/dev/null
	@cmake --build build-bench -j$(JOBS) --target trafalyn-cli floor_loop model_bench \
	  lock_hold_bench flow_export_bench flood_sender process_naming_measure
	@JOBS=$(JOBS) BASELINE=$(BASELINE) ./bench/run_bench.sh build-bench $(BENCH_FRAMES)
	@echo
	@./bench/live_flood.sh build-bench

run: build
	@./desktop/run.sh $(BUILD)

# PNGs of every tab as the program shows resources/sample.pcap when started
# on it, and two of the dual-stack capture with a loopback exchange added,
# drawn on the offscreen platform into docs/screenshots by a small program
# of their own (not a test, not part of `all`).
.PHONY: screenshots
screenshots: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target make_screenshots
	QT_QPA_PLATFORM=offscreen TZ=UTC $(BUILD)/docs/screenshots/make_screenshots \
	  resources/sample.pcap docs/screenshots
	python3 resources/make_dual_stack_capture.py --loopback $(BUILD)/dual_stack_loopback.pcap
	QT_QPA_PLATFORM=offscreen TZ=UTC $(BUILD)/docs/screenshots/make_screenshots \
	  $(BUILD)/dual_stack_loopback.pcap docs/screenshots ipv6

# The Debian packages trafalyn and trafalyn-cli, built by dpkg-buildpackage
# in a copy of the source tree (it writes beside the tree it builds) and
# checked by lintian; the two packages are copied here, for
# `sudo apt install ./trafalyn_*.deb`.
DEB ?= build-deb
deb: deps
	@rm -rf $(DEB) && mkdir -p $(DEB)/trafalyn
	@git ls-files -z --cached --others --exclude-standard \
	  | tar --null -T - --ignore-failed-read -cf - | tar -xf - -C $(DEB)/trafalyn
	cd $(DEB)/trafalyn && DEB_BUILD_OPTIONS=parallel=$(JOBS) dpkg-buildpackage -us -uc -b
	lintian --fail-on error $(DEB)/*.changes
	cp $(DEB)/trafalyn_*.deb $(DEB)/trafalyn-cli_*.deb .

# The PNG icons in packaging/icons, drawn by the program's own artwork code
# on the offscreen platform (not part of `all`; the files are committed).
icons: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target make_icons
	QT_QPA_PLATFORM=offscreen $(BUILD)/packaging/make_icons packaging/icons

clean:
	rm -rf $(BUILD) $(ASAN) $(TSAN) $(FUZZ) build-bench $(DEB)
