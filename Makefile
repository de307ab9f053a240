# Thin wrapper over CMake. "make run" builds and starts the program, "make test" runs
# the whole suite twice: an optimised build and one under ASan + UBSan, then replays the
# fuzzers' corpus in a clang build, then builds the web page and tests it against the
# native build.
JOBS ?= $(shell nproc)
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
WEB_BUILD ?= build-web
# Debian's emscripten runs its JavaScript tools with this Node, which finds their modules here.
WEB_ENV = NODE_PATH=/usr/share/nodejs

.PHONY: all build run test test-release test-asan test-fuzz test-web web web-serve valgrind bench bench-startup bench-python bench-batch bench-fast bench-identity bench-pattern bench-samplefit bench-recognition package install uninstall clean

all: build

build:
	cmake -S . -B $(BUILD) -DHV_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/app/hivarnisse

test: test-release test-asan test-fuzz test-web

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) -DHV_WERROR=ON -DHV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# libFuzzer comes with clang only; the fuzzers run over the corpus in tests/fuzz/corpus.
test-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DHV_WERROR=ON -DHV_FUZZ=ON -DHV_TESTS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	cd $(FUZZ_BUILD) && ctest --output-on-failure -j $(JOBS)

# The web page (needs "sh setup.sh test"): build-web/site/ works from file:// and any static host.
web:
	$(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DHV_WERROR=ON -DCMAKE_BUILD_TYPE=Release \
		-DHV_NATIVE_BUILD=$(abspath $(BUILD))
	$(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS)

# A look at the page over HTTP, on this machine only.
WEB_PORT ?= 8000
web-serve: web
	@echo "Serving $(WEB_BUILD)/site on http://127.0.0.1:$(WEB_PORT)/ (Ctrl-C stops)"
	cd $(WEB_BUILD)/site && /usr/bin/python3 -m http.server --bind 127.0.0.1 $(WEB_PORT)

# WebAssembly against the native build (Node), then the page in headless Chromium.
test-web: build web
	cd $(WEB_BUILD) && $(WEB_ENV) ctest --output-on-failure

# Both test programs under memcheck (needs "sh setup.sh valgrind"); slow, so not in "test".
# Only definite leaks count: Qt and fontconfig keep caches until the process ends.
VALGRIND = valgrind --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=1
valgrind: build
	$(VALGRIND) ./$(BUILD)/tests/engine_tests
	QT_QPA_PLATFORM=offscreen $(VALGRIND) ./$(BUILD)/tests/window_tests

bench:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	./build-bench/bench/hv_bench

# Process start to the window shown, and the memory it then holds, headless.
bench-startup:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_startup
	for i in 1 2 3 4 5; do QT_QPA_PLATFORM=offscreen ./build-bench/bench/hv_startup; done

# The Python module on 1,000,000 points against the engine's ns per call (needs "sh setup.sh bench").
PYTHON ?= /usr/bin/python3
bench-python:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DHV_PYTHON=ON \
		-DPython3_EXECUTABLE=$(PYTHON) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_bench hivarnisse_python
	PYTHONPATH=build-bench/python $(PYTHON) bench/bench_python.py --hv-bench build-bench/bench/hv_bench

# hivarnisse-calc batch on a million rows against the engine's own cost, peak memory, a
# 1 GB line, and the pressure command from start to answer (needs "sh setup.sh bench").
bench-batch:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_bench hv_batch_bench hivarnisse-calc
	sh bench/batch.sh build-bench

# FastKolvane against Kolvane over 100,000,000 random inputs on every core: the count of
# differences in P and IERR (COUNT=... for another count).
COUNT ?= 100000000
bench-identity:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_identity
	./build-bench/bench/hv_identity $(COUNT)

# In one run: the engine's ns per call, FastKolvane's, hivarnisse-calc batch on a million rows
# and the Python module on a million points against rows x the engine's ns / cores (needs
# "sh setup.sh bench").
bench-fast:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DHV_PYTHON=ON \
		-DPython3_EXECUTABLE=$(PYTHON) -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_bench hv_batch_bench hivarnisse-calc hivarnisse_python
	PYTHON=$(PYTHON) sh bench/fast.sh build-bench
# 1,000 generated patterns of 3,000 points read and fitted on every core: ms per pattern per
# core and the share spent reading (needs "sh setup.sh bench").
bench-pattern:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_pattern_bench
	./build-bench/bench/hv_pattern_bench 1000
# A BM3 fit of 50 points in microseconds, and 10,000 bootstrap fits of them on every core.
bench-samplefit:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_samplefit_bench
	./build-bench/bench/hv_samplefit_bench 10000

# The standards found in 300 generated diamond-anvil-cell patterns with each and 300 without,
# wrong pressures and pressures from patterns without the standard (needs "sh setup.sh bench").
bench-recognition:
	cmake -S . -B build-bench -DHV_BENCH=ON -DHV_TESTS=OFF -DHV_WINDOW=OFF -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS) --target hv_recognition
	./build-bench/bench/hv_recognition 300

# The Debian package (needs "sh setup.sh package"), then lintian on it: any error
# fails the target. cpack itself refuses to build without dpkg-shlibdeps.
package: build
	rm -f $(BUILD)/*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/*.deb

# Into /usr/local unless PREFIX says otherwise. "cmake --install" lists what it wrote
# in install_manifest.txt, which cpack and the tests overwrite with their own installs:
# the copy in installed-files.txt is what "make uninstall" removes.
PREFIX ?= /usr/local
install: build
	cmake --install $(BUILD) --strip --prefix $(PREFIX)
	cp $(BUILD)/install_manifest.txt $(BUILD)/installed-files.txt

uninstall:
	xargs -d '\n' rm -f < $(BUILD)/installed-files.txt
	[ ! -d $(PREFIX)/share/doc/hivarnisse ] || rmdir --ignore-fail-on-non-empty $(PREFIX)/share/doc/hivarnisse
	rm $(BUILD)/installed-files.txt

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WEB_BUILD) build-bench
