# quenvar — the two commands a newcomer needs are `make run` and `make test`.
BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
FUZZ_DIR       ?= build-fuzz
# quenvar.ocx for Windows, cross-built with mingw-w64 and tested under Wine.
WIN32_DIR      ?= build-win32
WIN64_DIR      ?= build-win64
# Seconds each fuzz target runs: FUZZ_SECONDS for `make fuzz`, FUZZ_TEST_SECONDS within `make test`.
FUZZ_SECONDS   ?= 300
FUZZ_TEST_SECONDS ?= 30
BUILD_TYPE     ?= RelWithDebInfo
JOBS           ?= $(shell nproc)
CMAKE_FLAGS    ?=


.PHONY: all deps build build-sanitize build-fuzz build-windows test test-plain test-sanitize test-fuzz test-windows fuzz run run-bridge bench bench-windows package screenshots screenshots-windows format check-style clean

all: build

deps:
	@scripts/install-deps.sh

# Each build folder is configured by its preset in CMakePresets.json (which IDEs read too); the
# folders and BUILD_TYPE given here override the preset's.
$(BUILD_DIR)/build.ninja: | deps
	cmake --preset plain -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

$(SANITIZE_DIR)/build.ninja: | deps
	cmake --preset sanitize -B $(SANITIZE_DIR) $(CMAKE_FLAGS)

# The fuzz targets need clang and libFuzzer; the build folder is theirs alone.
$(FUZZ_DIR)/build.ninja: | deps
	cmake --preset fuzz -B $(FUZZ_DIR) $(CMAKE_FLAGS)

# The Windows tests talk to the Linux build's x10sim behind COM1.
$(WIN32_DIR)/build.ninja: | deps
	cmake --preset win32 -B $(WIN32_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUENVAR_X10SIM=$(abspath $(BUILD_DIR))/bin/x10sim $(CMAKE_FLAGS)

$(WIN64_DIR)/build.ninja: | deps
	cmake --preset win64 -B $(WIN64_DIR) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DQUENVAR_X10SIM=$(abspath $(BUILD_DIR))/bin/x10sim $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-sanitize: deps $(SANITIZE_DIR)/build.ninja
	cmake --build $(SANITIZE_DIR) -j $(JOBS)

build-fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) --target fuzz_targets -j $(JOBS)

build-windows: deps $(WIN32_DIR)/build.ninja $(WIN64_DIR)/build.ninja
	cmake --build $(WIN32_DIR) -j $(JOBS)
	cmake --build $(WIN64_DIR) -j $(JOBS)

# The style check first (it takes seconds), then every test, once in a normal build and once under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the Windows modules' tests under Wine, then a
# short run of each fuzz target.
test: check-style test-plain test-sanitize test-windows test-fuzz

test-plain: build
	scripts/run-tests.sh $(BUILD_DIR)

test-sanitize: build-sanitize
	scripts/run-tests.sh $(SANITIZE_DIR) --sanitize

# The Wine prefix has no display (its null graphics driver): windows and message boxes exist and
# are read by the tests, drawn nowhere.
test-windows: build build-windows
	scripts/run-tests.sh $(WIN32_DIR)
	scripts/run-tests.sh $(WIN64_DIR)

test-fuzz: build-fuzz
	JOBS=$(JOBS) scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_TEST_SECONDS)

# Each fuzz target for FUZZ_SECONDS; what they find stays in $(FUZZ_DIR)/fuzz/.
fuzz: build-fuzz
	JOBS=$(JOBS) scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

run: build
	scripts/run.sh $(BUILD_DIR)

# The MQTT bridge with a broker of its own and x10sim; prints the mosquitto_pub lines to try.
run-bridge: build
	scripts/run-bridge.sh $(BUILD_DIR)

bench: build
	scripts/run-benchmarks.sh $(BUILD_DIR)
	@echo "The Windows module's benchmarks, under Wine: make bench-windows"

# quenvar.ocx's benchmarks in both Windows builds, under Wine, with the Linux build's x10sim.
bench-windows: build build-windows
	scripts/run-windows-benchmarks.sh $(BUILD_DIR) $(WIN32_DIR) $(WIN64_DIR)

# The Debian package of the plain build: $(BUILD_DIR)/quenvar_<version>_<architecture>.deb.
package: build
	cmake --build $(BUILD_DIR) --target package

screenshots: build
	@scripts/install-deps.sh --with-display-tools
	scripts/screenshots.sh $(BUILD_DIR)

screenshots-windows: build build-windows
	@scripts/install-deps.sh --with-display-tools
	scripts/windows-screenshots.sh $(BUILD_DIR) $(WIN64_DIR)

# Formats every tracked C++ file by .clang-format; check-style only names those that differ.
format: deps
	scripts/check-style.sh --fix

check-style: deps
	scripts/check-style.sh

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR) $(WIN32_DIR) $(WIN64_DIR)
