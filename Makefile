# VelRpt entry points. `make run` and `make test` work on a fresh Debian 12
# machine: both install what the build needs first (scripts/install-deps).

BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CTEST_ARGS ?=
RUN_ARGS   ?=

# ccache, when installed, keeps rebuilds of fresh clones short; paths are
# taken relative to the clone so another folder hits the same cache.
CCACHE     := $(shell command -v ccache 2>/dev/null)
LAUNCHER   := $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= 1

export QT_QPA_PLATFORM ?= offscreen
export XDG_RUNTIME_DIR ?= /tmp/velrpt-runtime-$(shell id -u)

.PHONY: all deps configure build run test test-asan test-tsan test-drivers bench fuzz package test-debian13 clean windows test-windows

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(LAUNCHER)

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# The program's main job.
run: build
	scripts/run-main $(BUILD) $(RUN_ARGS)

test: build
	@mkdir -p -m 700 $(XDG_RUNTIME_DIR)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELRPT_SANITIZE=address -DVELRPT_BUILD_BENCH=OFF $(LAUNCHER)
	cmake --build build-asan -j $(JOBS)
	@mkdir -p -m 700 $(XDG_RUNTIME_DIR)
	cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

# Serial, simulator and whole-program tests under ThreadSanitizer. Qt is not
# built with it; tests/tsan.supp lists the Qt-internal false reports.
TSAN_OPTIONS_ALL = halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELRPT_SANITIZE=thread -DVELRPT_BUILD_BENCH=OFF $(LAUNCHER)
	cmake --build build-tsan -j $(JOBS)
	@mkdir -p -m 700 $(XDG_RUNTIME_DIR)
	cd build-tsan && TSAN_OPTIONS="$(TSAN_OPTIONS_ALL)" \
	  ctest --output-on-failure -j $(JOBS) -L 'serial|sim|e2e|cli' $(CTEST_ARGS)

# velrpt-cli on the kernel's 8250 and ftdi_sio drivers in a QEMU VM (no KVM
# needed); TEST_DRIVERS_ARGS passes options on, e.g. --skip-file FILE.
TEST_DRIVERS_ARGS ?=
test-drivers: build
	scripts/test-drivers $(BUILD) $(TEST_DRIVERS_ARGS)

# Windows: cross-built with mingw-w64 against Qt Core built from Debian's
# source (cached in /var/cache/velrpt), VelRpt-windows-x64.zip in build-windows/;
# its tests under wine.
windows: build
	scripts/build-windows $(BUILD) build-windows

test-windows: windows
	scripts/test-windows build-windows

bench: build
	scripts/run-bench $(BUILD)

# libFuzzer targets (clang, ASan + UBSan), each run for FUZZ_SECONDS.
FUZZ_SECONDS ?= 120
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVELRPT_FUZZ=ON -DVELRPT_BUILD_BENCH=OFF $(LAUNCHER)
	cmake --build build-fuzz -j $(JOBS) --target velrpt_fuzz_all
	scripts/run-fuzz build-fuzz $(FUZZ_SECONDS)

# The Debian package (velrpt_<version>_<arch>.deb) in $(BUILD).
package: build
	cd $(BUILD) && cpack -G DEB

# `make test` in a fresh Debian 13 chroot (root; scripts/test-in-debian says how).
test-debian13:
	scripts/test-in-debian 13

clean:
	rm -rf $(BUILD) build-asan build-tsan build-fuzz build-windows
