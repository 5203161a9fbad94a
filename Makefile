# make run: build and start the helper in this terminal.
# make test: install what is missing, build under the sanitizers, run every test.
# make fuzz: fuzz the command reader for FUZZ_SECONDS, growing tests/fuzz/corpus.
# make demo: show the helper at work on a headless X server, with no desktop needed.
# make bench: install what the benchmark needs, measure the release helper against its
#             peers on a private Xvfb display, write bench/results.md and bench/latency-cdf.png.
#             make bench BENCH_ARGS="--phases apps" measures only the real applications.
# make install: build the release helper and install it into PREFIX (/usr/local), under DESTDIR if set:
#             PREFIX/libexec/ortel-helper/ortel-helper and, beside it, ortel-atspi.
# make deb: build the release helper's Debian package, build/release/package/ortel-helper_VERSION_ARCH.deb.
# make bench-evdev: measure the release helper's event devices' monitor against a bare C
#             reader in the tests' virtual machine, write bench/evdev-results.md.
.PHONY: run test demo deps build install deb bench bench-evdev clean fuzz fuzz-build

JOBS ?= $(shell nproc)
CMAKE_GEN := -G Ninja

build: 
	bash scripts/install-deps.sh build
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
	cmake --build build/release -j $(JOBS)

run: build
	@echo "ortel-helper: type check-focus and Enter to ask for focus; Ctrl-D ends it." >&2
	@./build/release/ortel-helper $(ARGS)

deps:
	bash scripts/install-deps.sh all

PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

# The package's dependencies are computed from the executables (dpkg-shlibdeps).
deb: build
	bash scripts/install-deps.sh deb
	rm -rf build/release/package
	cd build/release && cpack -G DEB

# The real applications the focus tests run in are a group of their own, large
# enough that only the tests ask for them (not run, demo or fuzz).
test: deps build
	bash scripts/install-deps.sh apps
	$(MAKE) fuzz-build
	cd build/fuzz && ctest --output-on-failure
	cmake -S . -B build/asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DORTEL_SANITIZE=address,undefined \
	  -DORTEL_PLAIN_HELPER=$(CURDIR)/build/release/ortel-helper >/dev/null
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DORTEL_SANITIZE=thread >/dev/null
	cmake --build build/tsan -j $(JOBS)
	cd build/tsan && ctest --output-on-failure -j $(JOBS)

fuzz-build:
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORTEL_FUZZ=ON >/dev/null
	cmake --build build/fuzz -j $(JOBS)

# A longer run that keeps what it finds in the project's corpus.
FUZZ_SECONDS ?= 600
fuzz: deps fuzz-build
	build/fuzz/tests/fuzz/command_reader_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 tests/fuzz/corpus

demo: deps
	cmake -S . -B build/demo $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build build/demo -j $(JOBS) --target ortel-helper ortel_xinject
	bash scripts/demo.sh build/demo

# The driver is configured on its own (ORTEL_BENCH=ON), so that make test
# never needs X11, npm or matplotlib; the helper measured is build/release's.
bench: build
	bash scripts/install-deps.sh bench
	bash scripts/install-deps.sh apps
	cd bench/node && npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DORTEL_BENCH=ON >/dev/null
	cmake --build build/bench -j $(JOBS) --target ortel-bench
	bash bench/run.sh build/release/ortel-helper build/bench/bench/ortel-bench $(BENCH_ARGS)

# Needs only what make test installs: the virtual machine and the driver.
bench-evdev: deps build
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DORTEL_BENCH=ON >/dev/null
	cmake --build build/bench -j $(JOBS) --target ortel-bench-evdev ortel-bare-evdev-reader ortel-glib-evdev-reader
	bash bench/run_evdev.sh build/release/ortel-helper build/bench/bench $(BENCH_ARGS)

clean:
	rm -rf build
