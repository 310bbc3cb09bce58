# Entry points for developers and CI. Every target installs the dependencies first.
JOBS ?= $(shell nproc)
CTEST_FLAGS ?= --output-on-failure -j $(JOBS) --timeout 600

.PHONY: deps build demo test build-asan test-asan build-tsan test-tsan soak bench package docs \
        format format-check clean fuzz build-windows test-windows

deps:
	scripts/install-deps

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest $(CTEST_FLAGS)

# A tour of the vesk command line against a device emulator it starts and stops itself.
demo: build
	scripts/demo build

build-asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)

test-asan: build-asan
	cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest $(CTEST_FLAGS)

# The suite under ThreadSanitizer; any report fails the test that made it. The packaging
# checks build programs of their own against the library and are left to the other builds.
build-tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_TSAN=ON
	cmake --build build-tsan -j $(JOBS)

test-tsan: build-tsan
	cd build-tsan && TSAN_OPTIONS=second_deadlock_stack=1 ctest $(CTEST_FLAGS) -E '^packaging\.'

# The soak in the AddressSanitizer build, where LeakSanitizer checks for leaks at its exit: 10 000
# mixed operations of both services from several threads against the emulator, a tenth of them
# cancelled at random moments, bounded by a time limit and a watchdog; it prints its figures.
# SOAK_FLAGS passes options to it (--operations N --seconds S --threads T --seed X).
SOAK_FLAGS ?=
soak: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=ON
	cmake --build build-asan -j $(JOBS) --target vesk_soak
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  build-asan/tests/soak/vesk_soak $(SOAK_FLAGS)

# Each scenario prints the library's figure, its baseline's from the same run (alternating
# rounds, medians) and "RATIO <name> <library/baseline>"; the transfers also print the curl
# program's figure as a reference line without a ratio.
bench: build
	build/bench/transport_bench
	build/bench/perf_bench

# .deb packages of the library, its development files and the programs, into build/packages.
package: build
	cd build && cpack -G DEB

# The API reference and the guide as HTML, into build/docs/html (Doxygen; an undocumented
# public member fails it).
docs: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build --target docs

# The fuzzers, built with clang in build-fuzz/: each target runs for FUZZ_SECONDS from its
# corpus (tests/fuzz/corpus/TARGET) with its dictionary; new inputs and crashing ones go to
# build-fuzz/fuzz-scratch/TARGET, never into the corpus. Not part of CI.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= reply_parsers json_differential form multipart paths
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	set -e; for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/fuzz-scratch/$$t; \
	  echo "== $$t: $(FUZZ_SECONDS) s"; \
	  ASAN_OPTIONS=malloc_context_size=0:quarantine_size_mb=64 \
	    build-fuzz/tests/fuzz/$${t}_fuzzer -dict=tests/fuzz/$$t.dict \
	    -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=build-fuzz/fuzz-scratch/$$t- \
	    build-fuzz/fuzz-scratch/$$t tests/fuzz/corpus/$$t; \
	done

# The Windows build, cross-built with mingw-w64 into build-windows/ (veskhttp.dll, its import
# library and the test programs), and its tests run by ctest under Wine. The Wine prefix lives in
# build-windows/wineprefix; a persistent wineserver serves the whole test run and is stopped at
# the end, whatever the outcome. The server and the prefix's services are started with streams
# of their own before ctest: started by a test program, they would hold its output pipe open and
# ctest would wait for them. The end-to-end tests run against the native vesk-emulator built in
# build/, which they start through Wine as a Linux process.
WINE_ENV = WINEPREFIX=$(CURDIR)/build-windows/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
build-windows: deps
	scripts/install-deps-windows
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS) --target vesk-emulator
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_NATIVE_EMULATOR=$(CURDIR)/build/emulator/vesk-emulator
	cmake --build build-windows -j $(JOBS)

test-windows: build-windows
	@if [ ! -f build-windows/wineprefix/system.reg ]; then \
	  echo "Initialising the Wine prefix"; \
	  $(WINE_ENV) wineboot -i </dev/null >/dev/null 2>&1; \
	  $(WINE_ENV) wineserver -w; \
	fi
	$(WINE_ENV) wineserver -p </dev/null >/dev/null 2>&1 || true
	$(WINE_ENV) wineboot </dev/null >/dev/null 2>&1
	cd build-windows && $(WINE_ENV) ctest $(CTEST_FLAGS); \
	  status=$$?; $(WINE_ENV) wineserver -k; exit $$status

format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-tsan build-windows
