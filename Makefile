# A thin front over CMake: both architectures, the test suite, the demo.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

# How long `make fuzz` runs each fuzz target, in seconds.
FUZZ_SECONDS ?= 150
# How much slower the program runs under valgrind: the tests' waits for it are stretched.
MEMCHECK_TIME_SCALE ?= 20
VALGRIND = valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite \
	--errors-for-leak-kinds=definite --num-callers=40 --suppressions=$(CURDIR)/tools/valgrind.supp

.PHONY: all deps build build-x86_64 build-i386 program-x86_64 program-i386 checker build-asan build-fuzz distro-roots test check memcheck fuzz lint demo clean

all: build

deps:
	@bash tools/install-deps

build: build-x86_64 build-i386

TOOLCHAIN_x86_64 =
TOOLCHAIN_i386   = --toolchain $(CURDIR)/cmake/i386.cmake

# Everything of one architecture, the tests included.
build-x86_64 build-i386: build-%:
	cmake -S . -B $(BUILD)/$* $(TOOLCHAIN_$*) $(CMAKE_FLAGS)
	cmake --build $(BUILD)/$* -j $(JOBS)

# Only the program of one architecture, for what runs or ships it.
program-x86_64 program-i386: program-%:
	cmake -S . -B $(BUILD)/$* $(TOOLCHAIN_$*) $(CMAKE_FLAGS)
	cmake --build $(BUILD)/$* -j $(JOBS) --target Ostrel

# Only the 64-bit installer checker, ostrel-check, that the bundle runs.
checker:
	cmake -S . -B $(BUILD)/x86_64 $(CMAKE_FLAGS)
	cmake --build $(BUILD)/x86_64 -j $(JOBS) --target ostrel-check

# The 64-bit program and tests again with AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan:
	cmake -S . -B $(BUILD)/asan -DOSTREL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)/asan -j $(JOBS)

# The fuzz targets, built with clang, libFuzzer and the sanitizers; no test suite.
build-fuzz:
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DOSTREL_FUZZ=ON -DOSTREL_SANITIZE=ON -DBUILD_TESTING=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)/fuzz -j $(JOBS)

# The Debian roots where the tests run the programs on other distributions, for both
# architectures, made once and kept: Debian 11 with GTK+ 2 ($(BUILD)/bullseye), Debian 13 with
# GTK 3 and no GTK+ 2 ($(BUILD)/trixie), and Debian 13 with GLib and no toolkit
# ($(BUILD)/trixie-bare). Their downloads are kept in $(BUILD)/debs.
# Debian 11 is made beside the two Debian 13 roots, which share their downloads; one root that
# cannot be made does not keep the others from being made.
distro-roots: deps
	@bash tools/distro-root $(BUILD)/bullseye bullseye libgtk-x11-2.0.so.0 $(BUILD)/debs libgtk2.0-0 & \
	old=$$!; status=0; \
	bash tools/distro-root $(BUILD)/trixie-bare trixie libglib-2.0.so.0 $(BUILD)/debs libglib2.0-0t64 || status=1; \
	bash tools/distro-root $(BUILD)/trixie trixie libgtk-3.so.0 $(BUILD)/debs libgtk-3-0t64 || status=1; \
	wait $$old || status=1; \
	exit $$status

# The quick loop while working: the 64-bit build, brought up to date, and every test not
# labelled slow; T=regex runs only the tests whose names match.
T ?=
test: deps
	@$(MAKE) --no-print-directory build-x86_64
	@bash tools/run-suite -LE slow $(if $(T),-R '$(T)') $(BUILD)/x86_64

# Everything: both architectures, the sanitizer build and the fuzz targets, every test. The
# Debian roots are made (or found made) while the trees build; what that printed follows.
check: deps
	@mkdir -p $(BUILD); started=$$(date +%s); \
	$(MAKE) --no-print-directory distro-roots >$(BUILD)/distro-roots.log 2>&1 & roots=$$!; \
	$(MAKE) --no-print-directory build build-asan build-fuzz; built=$$?; \
	echo "check: the four trees built in $$(( $$(date +%s) - started )) s"; \
	wait $$roots || echo "check: a Debian root is missing, so its tests fail"; \
	cat $(BUILD)/distro-roots.log; \
	echo "check: ready to test after $$(( $$(date +%s) - started )) s"; \
	exit $$built
	@bash tools/run-suite $(BUILD)/x86_64 $(BUILD)/i386 $(BUILD)/asan $(BUILD)/fuzz

# The suite of the 64-bit build with every started Ostrel under valgrind's memcheck. The runs
# on other Debian releases are left out: their program starts inside a root, where valgrind is not.
memcheck: deps
	@$(MAKE) --no-print-directory build-x86_64
	@OSTREL_WRAPPER="$(VALGRIND)" OSTREL_TIME_SCALE=$(MEMCHECK_TIME_SCALE) \
		bash tools/run-suite -E '^Debian/' $(BUILD)/x86_64

fuzz: deps
	@$(MAKE) --no-print-directory build-fuzz
	@bash tools/fuzz $(BUILD)/fuzz $(FUZZ_SECONDS)

# clang-tidy, cppcheck and the formatting of every source file; fails on any finding.
lint: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/lint -DOSTREL_FUZZ=ON -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON $(CMAKE_FLAGS) >/dev/null
	@bash tools/lint $(BUILD)/lint

demo: deps
	@$(MAKE) --no-print-directory program-x86_64
	@bash tools/demo $(BUILD)/x86_64/Ostrel $(BUILD)/demo

clean:
	rm -rf $(BUILD)

# A ready-to-ship installer made from the installer directory $(INSTALLER) (examples/$(EXAMPLE)
# when not given), in $(BUILD)/bundle/: with both programs and the launcher that picks one,
# NAME.tar.gz (ARCH=both, the default), or with one, NAME-x86_64.tar.gz or NAME-i386.tar.gz;
# NAME is the directory's. FORMAT=run also makes NAME.run, one file that unpacks itself and
# starts the installer. ostrel-check looks at the directory first; an error it finds stops the
# bundle. E.g. make bundle INSTALLER=~/my-game FORMAT=run
EXAMPLE   ?= hello
INSTALLER ?= examples/$(EXAMPLE)
# Read by the recipe from its environment, so that any path, quotes included, reaches it whole.
export INSTALLER
ARCH      ?= both
FORMAT    ?= tar
BUNDLE_ARCHS_both   = x86_64 i386
BUNDLE_ARCHS_x86_64 = x86_64
BUNDLE_ARCHS_i386   = i386
BUNDLE_SUFFIX = $(if $(filter both,$(ARCH)),,-$(ARCH))
.PHONY: bundle screenshots
bundle: deps
	$(if $(BUNDLE_ARCHS_$(ARCH)),,$(error ARCH is both, x86_64 or i386, not "$(ARCH)"))
	$(if $(filter tar run,$(FORMAT)),,$(error FORMAT is tar or run, not "$(FORMAT)"))
	@$(MAKE) --no-print-directory $(BUNDLE_ARCHS_$(ARCH):%=program-%) checker
	@name=$$(basename "$$(realpath -m "$$INSTALLER")"); \
	bash tools/bundle --checker $(BUILD)/x86_64/ostrel-check $(if $(filter run,$(FORMAT)),--run) \
		"$$INSTALLER" "$(BUILD)/bundle/$$name$(BUNDLE_SUFFIX).tar.gz" $(BUNDLE_ARCHS_$(ARCH):%=$(BUILD)/%/Ostrel)

# The README's pictures of the windows, taken on an Xvfb of their own: docs/*.png
screenshots: deps
	@$(MAKE) --no-print-directory program-x86_64
	@bash tools/screenshots $(BUILD)/x86_64/Ostrel docs

# Start-up, memory, quiet CPU and silent-mode cost against what users would pick instead:
# medians in one table (bench/run-bench), on an Xvfb of its own when there is no display.
.PHONY: bench
bench: deps
	@$(MAKE) --no-print-directory program-x86_64
	@bash bench/run-bench $(BUILD)/x86_64/Ostrel $(BUILD)/bench

# ostrel-check on this system's own shell scripts, each made into a control script: the count
# of each kind of finding, and a sample of each to judge by hand (bench/check-corpus).
.PHONY: corpus
corpus: deps
	@$(MAKE) --no-print-directory checker
	@bash bench/check-corpus $(BUILD)/x86_64/ostrel-check $(BUILD)/corpus
