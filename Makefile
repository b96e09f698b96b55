# Entry points for people and CI. Every target installs what is missing first.
JOBS ?= 2
CTEST_JOBS ?= 4
CMAKE_FLAGS ?=

.PHONY: all deps build test test-asan test-tsan demo demo-tour demo-build screenshot clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS)

test: build
	cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(CTEST_JOBS)

# AddressSanitizer with UndefinedBehaviorSanitizer, every test.
test-asan: deps
	cmake -S . -B build-asan -DCONFIGURATOR_SANITIZE=address -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen \
		ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(CTEST_JOBS)

# ThreadSanitizer over everything that needs no Qt: Qt's own libraries are not instrumented.
test-tsan: deps
	cmake -S . -B build-tsan -DCONFIGURATOR_SANITIZE=thread -DCONFIGURATOR_WITH_QT=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build build-tsan -j $(JOBS)
	cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		ctest --output-on-failure -j $(CTEST_JOBS)

clean:
	rm -rf build build-asan build-tsan build-wine build-wine-native build-windows build-fuzz build-package \
		build-release build-uart build-bench build-sqlite build-httplib build-pdf-sources \
		build-mingw-libs dist

# The configurator on a simulated transmitter. Without a display it takes the scripted tour
# instead, on Qt's offscreen platform, with a picture of the window per step in demo-tour/.
# DEMO_FLAGS passes options on, e.g. make demo DEMO_FLAGS="--trace --cold-junction 19.5".
DEMO_FLAGS ?=
demo: demo-build
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
		./build/demo/transmitter-demo $(DEMO_FLAGS); \
	else \
		echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): taking the scripted tour instead."; \
		QT_QPA_PLATFORM=offscreen ./build/demo/transmitter-demo --tour demo-tour $(DEMO_FLAGS); \
	fi

# The scripted tour even where there is a display (it then plays in a real window).
demo-tour: demo-build
	./build/demo/transmitter-demo --tour demo-tour $(DEMO_FLAGS)

demo-build: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target transmitter-demo

# Pictures of the main window and the access-code dialog, drawn offscreen, in screenshots/.
screenshot: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target window-screenshot
	QT_QPA_PLATFORM=offscreen ./build/app/qt/window-screenshot screenshots

# The Windows serial link, cross-built with mingw-w64 and run under Wine against the simulated
# transmitter, compared with the same cases on Linux.
.PHONY: test-wine
test-wine:
	./scripts/install-deps.sh --windows
	JOBS=$(JOBS) ./scripts/wine-tests.sh

# The Debian package, build-package/transmitter-configurator_<version>_amd64.deb. Built at -O2
# as Debian builds its packages (GCC 12 at -O3 also warns falsely inside std::string's +).
.PHONY: package package-test
package:
	./scripts/install-deps.sh --package
	cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
		-DCONFIGURATOR_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-package -j $(JOBS) --target package

# Builds the package, checks it with lintian, installs it, runs what it installed and removes it.
package-test:
	JOBS=$(JOBS) ./scripts/package-test.sh

# A release of the commit checked out (HEAD) in dist/: the Debian package, the Windows programs
# and their installer, the source archive, and SHA256SUMS. The same commit gives the same bytes
# wherever and whenever it is built; built in build-release/, without the tests.
.PHONY: release
release:
	JOBS=$(JOBS) ./scripts/release.sh

# Builds the release twice, in two fresh clones under /tmp, and fails naming every artifact that
# differs; then checks SHA256SUMS and the version each artifact carries. The artifacts end up
# in dist/.
.PHONY: release-check
release-check:
	JOBS=$(JOBS) ./scripts/release-check.sh

# libFuzzer targets under AddressSanitizer and UndefinedBehaviorSanitizer, built with clang in
# build-fuzz and run FUZZ_SECONDS seconds each; prints the executions and findings, total last.
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz:
	./scripts/install-deps.sh --fuzz
	cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++-14 -DCONFIGURATOR_FUZZ=ON \
		-DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzz-targets
	./tests/fuzz/run_fuzz.sh build-fuzz $(FUZZ_SECONDS)

# The Windows program without Qt, cross-built with mingw-w64 into one statically linked
# transmitter-configurator.exe, checked to be a GUI program importing only system DLLs; the
# command line transmitter-cli.exe beside it, a console program likewise; and the NSIS installer
# that holds both. Built at -O2: GCC 12 at -O3 warns falsely inside std::string's +. SQLite is
# compiled in, from Debian's source made once into build-sqlite/ (scripts/sqlite-source.sh), and so
# is cpp-httplib, the operator page's server, from Debian's source in build-httplib/, and so are
# libharu, zlib and qrcodegen for the certificates (build-pdf-sources/, scripts/pdf-sources.sh;
# without them the programs make labels but no PDF); libpq with OpenSSL linked in, cross-built
# from Debian's sources once into build-mingw-libs/ (scripts/mingw-libs.sh, a few minutes the
# first time).
.PHONY: windows
windows:
	./scripts/install-deps.sh --windows
	sqlite=$$(./scripts/sqlite-source.sh build-sqlite) && \
	httplib=$$(./scripts/debian-source.sh cpp-httplib build-httplib) && \
	pdf=$$(./scripts/pdf-sources.sh build-pdf-sources || echo "") && \
	libpq=$$(./scripts/mingw-libs.sh build-mingw-libs) && \
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DCONFIGURATOR_TESTS=OFF -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
		-DCONFIGURATOR_SQLITE_AMALGAMATION="$$sqlite" -DCONFIGURATOR_HTTPLIB_DIR="$$httplib" \
		-DCONFIGURATOR_PDF_SOURCES="$$pdf" -DCONFIGURATOR_LIBPQ_MINGW="$$libpq" $(CMAKE_FLAGS)
	cmake --build build-windows -j $(JOBS) --target transmitter-configurator transmitter-cli
	./scripts/check-windows-exe.sh build-windows/app/win32/transmitter-configurator.exe
	./scripts/check-windows-exe.sh --console build-windows/cli/transmitter-cli.exe
	cmake --build build-windows --target windows-installer
	@echo
	@echo "Program:      build-windows/app/win32/transmitter-configurator.exe"
	@echo "Command line: build-windows/cli/transmitter-cli.exe"
	@echo "Installer:    $$(ls build-windows/transmitter-configurator-*-win64-setup.exe)"

# The Windows program itself under Wine on a virtual display, driven through its window against
# simulated transmitters, case by case, with each case's wire traffic checked.
.PHONY: test-wine-window
test-wine-window:
	./scripts/install-deps.sh --windows
	JOBS=$(JOBS) ./scripts/wine-window-tests.sh

# transmitter-cli on the Linux kernel's own 8250 and ftdi_sio drivers, in a QEMU guest without
# KVM whose 16550 and FTDI adapter are each wired to a simulated transmitter; the adapter is
# also pulled and plugged back. Then the station on five slots (four adapters named by their
# by-path links) with units swapped, an adapter re-plugged, and five power cuts of its journal's
# disk. Prints each case's time, then N passed, M failed. In build-uart/.
.PHONY: test-uart
test-uart:
	./scripts/install-deps.sh --uart
	JOBS=$(JOBS) ./scripts/uart-test.sh

# N operations (default 1000) clicked in the real window, offscreen, against a simulated
# transmitter; prints what resident memory, open descriptors and threads grew by, and fails on
# any descriptor or thread more, or on 1 MB or more per 1,000 operations. About 1.5 s an operation.
N ?= 1000
.PHONY: soak
soak: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target configurator-soak
	QT_QPA_PLATFORM=offscreen ./build/tests/soak/configurator-soak $(N)

# A benchmark, not a test (neither `make test` nor CI runs it): the median of 10 runs of each
# transmitter-cli subcommand against the simulated transmitter, beside its target and the time
# the window is designed to take for the same work, and the clone of one configuration onto ten
# transmitters. RUNS and BATCHES change the counts.
.PHONY: bench-cli
bench-cli: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target transmitter-cli transmitter-sim
	./scripts/bench-cli.sh build

# A benchmark, not a test (neither `make test` nor CI runs it): transmitter-cli station against
# simulated transmitters, each figure beside its target: one unit alone (T1), 8 and 32 slots
# with a unit each from the start (within 1.2 and 1.5 x T1), the processor time while 32 empty
# slots probe for PROBE_SECONDS (default 60; within 3 % of one core), peak memory at 32 slots
# (25 MB), and the slowest journal commit with 32 slots writing at once; then the operator page:
# 8 slots with 20 viewers on /events against none (within 1.02 x), an event's time from the
# station's output to a viewer (p99 within 250 ms), and what 20 idle viewers cost over
# PROBE_SECONDS (1 % of a core, 10 MB). RUNS (default 3).
PROBE_SECONDS ?= 60
.PHONY: bench-station
bench-station: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target station-bench transmitter-cli
	RUNS=$(or $(RUNS),3) ./build/tests/station/station-bench $(PROBE_SECONDS)

# A benchmark, not a test (neither `make test` nor CI runs it): the worst of RUNS (default 10)
# runs of one certificate (target 50 ms) and of a 1,000-unit batch report (target 5 s), from
# journal rows to the PDF's bytes.
.PHONY: bench-paper
bench-paper: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target paper-bench
	RUNS=$(or $(RUNS),10) ./build/tests/report/paper-bench

# A benchmark, not a test (neither `make test` nor CI runs it): a station of 8 slots forwarding to
# a central journal on a throwaway PostgreSQL for BENCH_SECONDS (default 60), the time from each
# unit's local commit to its central row, median and 99th percentile (target p99 within 1 s), and
# the rate at which one forwarder catches up with 20,000 rows an outage left (target 500 rows/s).
# Over TLS, first transmitter-cli, then transmitter-cli.exe under Wine in a prefix of its own.
.PHONY: bench-central
bench-central: deps
	./scripts/install-deps.sh --windows
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target central_test transmitter-cli
	sqlite=$$(./scripts/sqlite-source.sh build-sqlite) && \
	libpq=$$(./scripts/mingw-libs.sh build-mingw-libs) && \
	cmake -S . -B build-wine -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DCONFIGURATOR_WITH_QT=OFF -DCONFIGURATOR_WERROR=ON \
		-DCONFIGURATOR_SQLITE_AMALGAMATION="$$sqlite" -DCONFIGURATOR_LIBPQ_MINGW="$$libpq" >/dev/null
	cmake --build build-wine -j $(JOBS) --target transmitter-cli
	@echo "== transmitter-cli on Linux"
	BENCH_SECONDS=$(or $(BENCH_SECONDS),60) CENTRAL_TEST_TLS=1 pg_virtualenv \
		./build/tests/central/central_test --gtest_also_run_disabled_tests --gtest_filter='*Bench*'
	@echo "== transmitter-cli.exe under Wine"
	prefix=$$(mktemp -d /tmp/bench-central-wine.XXXXXX) && \
	export WINEPREFIX=$$prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" && \
	{ wineboot -i >/dev/null 2>&1 || true; } && \
		CENTRAL_TEST_WINDOWS_CLI=$(CURDIR)/build-wine/cli/transmitter-cli.exe \
		BENCH_SECONDS=$(or $(BENCH_SECONDS),60) pg_virtualenv ./build/tests/central/central_test \
		--gtest_also_run_disabled_tests --gtest_filter='*Bench*'; \
	status=$$?; wineserver -k; rm -rf $$prefix; exit $$status

# A benchmark, not a test (neither `make test` nor CI runs it): each operation of the real window,
# offscreen, against the simulated transmitter, RUNS times (default 5), worst and median: the
# time from its preamble to its outcome beside the waits it is designed from (target: within
# 1.005 of them), and the interface thread's longest unanswered moment (target: 8 ms).
.PHONY: bench-window
bench-window: deps
	cmake -S . -B build $(CMAKE_FLAGS)
	cmake --build build -j $(JOBS) --target configurator-window-bench
	QT_QPA_PLATFORM=offscreen ./build/tests/soak/configurator-window-bench $(or $(RUNS),5)
