# Front door: `make demo` imports the examples into a demo area, `make test`
# runs every test, plainly and under the sanitizers.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Tests at a time: one more than the cores, as one test waits 70 s in real
# time without using one.
TEST_JOBS ?= $(shell echo $$(($(JOBS) + 1)))
CMAKE ?= cmake

.PHONY: all build test test-plain test-asan test-windows fuzz fuzz-long windows bench bench-dxf bench-compact bench-network demo install package clean

all: build

build:
	$(CMAKE) -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	$(CMAKE) --build build -j $(JOBS)

test-plain: build
	cd build && ctest --output-on-failure -j $(TEST_JOBS)

test-asan:
	$(CMAKE) -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTEILIMP_SANITIZE=ON
	$(CMAKE) --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(TEST_JOBS)

# The fuzz targets, each run for FUZZ_SECONDS (skipped without clang):
# `make fuzz` briefly from a copy of the committed corpus (part of make
# test), `make fuzz-long` for ten minutes each, both FUZZ_JOBS targets at a
# time (one a core here), the corpus in fuzz/corpus/ grown and
# minimised in place (commit it afterwards).
FUZZ_SECONDS ?= 30
FUZZ_LONG_SECONDS = $(if $(filter command line environment,$(origin FUZZ_SECONDS)),$(FUZZ_SECONDS),600)
FUZZ_JOBS ?= 2
fuzz_build = $(CMAKE) -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DTEILIMP_SANITIZE=ON -DTEILIMP_FUZZ=ON && $(CMAKE) --build build/fuzz -j $(JOBS)
fuzz:
	@if command -v clang++ >/dev/null 2>&1; then \
	  $(fuzz_build) && FUZZ_JOBS=$(FUZZ_JOBS) sh fuzz/run.sh build/fuzz $(FUZZ_SECONDS); \
	else echo "clang++ not found: fuzzing skipped"; fi

fuzz-long:
	@uptime
	@if command -v clang++ >/dev/null 2>&1; then \
	  $(fuzz_build) && FUZZ_JOBS=$(FUZZ_JOBS) sh fuzz/run.sh build/fuzz $(FUZZ_LONG_SECONDS) long; \
	else echo "clang++ not found: fuzzing skipped"; fi
	@uptime

test: test-plain fuzz test-asan test-windows

# The Windows programs, cross-compiled with MinGW-w64:
# build/windows/x64/{teilimp,teilarea}.exe (64-bit) and
# build/windows/x86/{teilimp,teilarea}.exe (32-bit). Each build directory also holds the tests for that system.
WINE ?= wine
windows_configure = TEILIMP_WINDOWS_ARCH=$(2) $(CMAKE) -S . -B build/windows/$(1) \
	-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	-DCMAKE_CROSSCOMPILING_EMULATOR=$(WINE)
windows:
	$(call windows_configure,x64,x86_64)
	$(CMAKE) --build build/windows/x64 -j $(JOBS) --target teilimp teilarea
	$(call windows_configure,x86,i686)
	$(CMAKE) --build build/windows/x86 -j $(JOBS) --target teilimp teilarea

# The whole test suite cross-compiled and run under Wine in a prefix of its
# own (skipped, and said so, without MinGW-w64 or Wine).
test-windows: build
	@if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v $(WINE) >/dev/null 2>&1 \
	    && [ -f /usr/src/googletest/CMakeLists.txt ]; then \
	  $(call windows_configure,x64,x86_64) >/dev/null && \
	  $(CMAKE) --build build/windows/x64 -j $(JOBS) && \
	  TEILIMP_PARITY=$(CURDIR)/build/test_parity sh tests/windows/run_wine.sh build/windows/x64 -j $(TEST_JOBS); \
	else \
	  echo "MinGW-w64 (-posix compilers), Wine or the GoogleTest sources not installed: Windows tests skipped"; \
	fi

# Timings: the in-process parts (Google Benchmark), then whole runs of the
# program against the floor of the design for areas of M entries, in
# BENCH_DIR (default: a scratch directory below build/; give a directory on
# another file system, such as a network mount, to measure there).
# BENCH_FULL=1 adds the full area (140,587 entries + the 20 imported).
BENCH_DIR ?= build/bench-work
BENCH_SIZES ?= 0 10000 100000 $(if $(BENCH_FULL),140587)
bench: build
	@uptime
	@if [ -x build/bench_micro ]; then build/bench_micro; else echo "bench_micro not built (no Google Benchmark)"; fi
	build/bench_scale build/teilimp $(BENCH_DIR) $(BENCH_SIZES)
	build/bench_export $(BENCH_DIR)
	@$(MAKE) --no-print-directory bench-dxf
	@uptime

# Importing DXF styles against the same pieces as EPN files: a generated
# 100-piece style and the exchange samples (Google Benchmark).
bench-dxf: build
	@if [ -x build/bench_dxf_import ]; then build/bench_dxf_import $(BENCH_DIR); \
	else echo "bench_dxf_import not built (no Google Benchmark)"; fi

# teilarea compact of an area of 100,000 entries (half superseded) against
# copying its files once.
bench-compact: build
	build/bench_compact build/teilarea $(BENCH_DIR)-compact

# The same on a network file system made on this machine (sshfs through a
# local sshd, bench/network.sh): M = 0 and 10,000.
NET_DIR ?= $(CURDIR)/build/net
bench-network: build
	sh bench/network.sh up $(NET_DIR)
	$(MAKE) bench BENCH_DIR=$(NET_DIR)/mnt/work BENCH_SIZES="0 10000"; rc=$$?; sh bench/network.sh down $(NET_DIR); exit $$rc

demo: build
	sh examples/demo.sh

# The programs, the manual pages, the README and the examples below PREFIX
# (bin/, share/man/man1/, share/doc/teilimp/); DESTDIR goes in front of it
# for a staged install.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" $(CMAKE) --install build --prefix "$(PREFIX)"

# Into build/package/: the Debian package teilimp_<version>_<arch>.deb and,
# with MinGW-w64, the Windows zip teilimp-<version>-win64.zip.
CPACK ?= cpack
package: build
	rm -rf build/package
	$(CPACK) --config build/CPackConfig.cmake
	@if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1; then \
	  $(call windows_configure,x64,x86_64) >/dev/null && \
	  $(CMAKE) --build build/windows/x64 -j $(JOBS) --target teilimp teilarea && \
	  $(CPACK) --config build/windows/x64/CPackConfig.cmake -B $(CURDIR)/build/package; \
	else \
	  echo "MinGW-w64 (x86_64-w64-mingw32-g++-posix) not installed: the Windows zip is skipped"; \
	fi
	rm -rf build/package/_CPack_Packages
	@ls -l build/package

clean:
	rm -rf build
