# Quick start: `make run` and `make test`. Both install what is missing first.
BUILD      ?= build
RUN_BUILD  ?= build-release
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
WERROR     ?= $(if $(CI),ON,OFF)

.PHONY: all deps build release test run bench screenshot test-windows test-qt5 deb test-package fuzz clean test-drivers \
        windows dist run-windows bench-windows soak check-reproducible

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug -DRILVANO_SANITIZE=ON -DRILVANO_WERROR=$(WERROR)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	QT_QPA_PLATFORM=offscreen ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300
	scripts/fuzz

$(RUN_BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(RUN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRILVANO_BUILD_TESTS=OFF

release: deps $(RUN_BUILD)/CMakeCache.txt
	cmake --build $(RUN_BUILD) -j $(JOBS)

run: release
	scripts/run $(RUN_BUILD)

bench: release
	scripts/bench $(RUN_BUILD)

# Hours of a busy line in minutes: both builds, memory, pauses, every byte,
# with both panes capped small so that they go round (PANE_CAP=2048 units;
# 0 for the programs' own caps). WIN_MINUTES, WIN_BUILD: see scripts/soak.
MINUTES ?= 30
soak: deps $(RUN_BUILD)/CMakeCache.txt
	cmake --build $(RUN_BUILD) -j $(JOBS) --target rilvano-sim rilvano-soak
	MINUTES=$(MINUTES) scripts/soak $(RUN_BUILD)

screenshot: release
	scripts/screenshot $(RUN_BUILD)
	scripts/screenshot-windows

fuzz:
	scripts/fuzz

test-windows:
	scripts/test-windows

# The window on the kernel's own UART and FTDI drivers in a QEMU guest, the
# adapter pulled out and plugged back in.
test-drivers: build
	scripts/test-drivers $(BUILD)

# The Win32 program, cross-built: build-win32/rilvano.exe (32-bit).
windows:
	scripts/build-windows i686

# Both zips (win32, win64) and their checksums in dist/.
dist: windows
	scripts/build-windows x86_64
	scripts/dist

run-windows: release
	scripts/run-windows $(RUN_BUILD)

bench-windows: release
	scripts/bench-windows $(RUN_BUILD)

test-qt5:
	scripts/test-qt5

deb:
	scripts/deb

test-package:
	scripts/test-package

# make deb and make dist twice, in two clean trees of HEAD, compared bit for bit.
check-reproducible:
	scripts/check-reproducible

clean:
	rm -rf $(BUILD) $(RUN_BUILD) build-* dist
