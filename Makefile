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
	@bash tools/demo $(BUILD)/x86_64/Ostrel

clean:
	rm -rf $(BUILD)
