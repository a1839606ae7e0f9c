# A thin front over CMake: both architectures, the test suite, the demo.
BUILD   ?= build
JOBS    ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build build-x86_64 build-i386 check demo clean

all: build

deps:
	@bash tools/install-deps

build: build-x86_64 build-i386

build-x86_64:
	cmake -S . -B $(BUILD)/x86_64 $(CMAKE_FLAGS)
	cmake --build $(BUILD)/x86_64 -j $(JOBS)

build-i386:
	cmake -S . -B $(BUILD)/i386 --toolchain $(CURDIR)/cmake/i386.cmake $(CMAKE_FLAGS)
	cmake --build $(BUILD)/i386 -j $(JOBS)

check: deps
	@$(MAKE) --no-print-directory build
	@bash tools/run-suite $(BUILD)/x86_64 $(BUILD)/i386

demo: deps
	@$(MAKE) --no-print-directory build-x86_64
	@bash tools/demo $(BUILD)/x86_64/Ostrel $(BUILD)/demo

clean:
	rm -rf $(BUILD)

# A ready-to-ship installer made from examples/$(EXAMPLE) with the $(ARCH) program:
# $(BUILD)/bundle/$(EXAMPLE)-$(ARCH).tar.gz, e.g. make bundle EXAMPLE=hello ARCH=i386
EXAMPLE ?= hello
ARCH    ?= x86_64
.PHONY: bundle screenshots
bundle: deps
	@$(MAKE) --no-print-directory build-$(ARCH)
	@bash tools/bundle $(BUILD)/$(ARCH)/Ostrel examples/$(EXAMPLE) $(BUILD)/bundle/$(EXAMPLE)-$(ARCH).tar.gz

# The README's pictures of the windows, taken on an Xvfb of their own: docs/*.png
screenshots: deps
	@$(MAKE) --no-print-directory build-x86_64
	@bash tools/screenshots $(BUILD)/x86_64/Ostrel docs

# Start-up, memory, quiet CPU and silent-mode cost against what users would pick instead:
# medians in one table (bench/run-bench), on an Xvfb of its own when there is no display.
.PHONY: bench
bench: deps
	cmake -S . -B $(BUILD)/x86_64 $(CMAKE_FLAGS)
	cmake --build $(BUILD)/x86_64 -j $(JOBS) --target Ostrel
	@bash bench/run-bench $(BUILD)/x86_64/Ostrel $(BUILD)/bench
