# quenvar — the two commands a newcomer needs are `make run` and `make test`.
BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
FUZZ_DIR       ?= build-fuzz
# Seconds each fuzz target runs: FUZZ_SECONDS for `make fuzz`, FUZZ_TEST_SECONDS within `make test`.
FUZZ_SECONDS   ?= 300
FUZZ_TEST_SECONDS ?= 30
BUILD_TYPE     ?= RelWithDebInfo
JOBS           ?= $(shell nproc)
CMAKE_FLAGS    ?=


.PHONY: all deps build build-sanitize build-fuzz test test-plain test-sanitize test-fuzz fuzz run bench screenshots clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

$(SANITIZE_DIR)/build.ninja: | deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENVAR_SANITIZE=ON $(CMAKE_FLAGS)

# The fuzz targets need clang and libFuzzer; the build folder is theirs alone.
$(FUZZ_DIR)/build.ninja: | deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQUENVAR_FUZZ=ON $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-sanitize: deps $(SANITIZE_DIR)/build.ninja
	cmake --build $(SANITIZE_DIR) -j $(JOBS)

build-fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) --target fuzz_targets -j $(JOBS)

# Every test, once in a normal build and once under AddressSanitizer + UndefinedBehaviorSanitizer,
# then a short run of each fuzz target.
test: test-plain test-sanitize test-fuzz

test-plain: build
	scripts/run-tests.sh $(BUILD_DIR)

test-sanitize: build-sanitize
	scripts/run-tests.sh $(SANITIZE_DIR) --sanitize

test-fuzz: build-fuzz
	JOBS=$(JOBS) scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_TEST_SECONDS)

# Each fuzz target for FUZZ_SECONDS; what they find stays in $(FUZZ_DIR)/fuzz/.
fuzz: build-fuzz
	JOBS=$(JOBS) scripts/run-fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

run: build
	scripts/run.sh $(BUILD_DIR)

bench: build
	scripts/run-benchmarks.sh $(BUILD_DIR)

screenshots: build
	@scripts/install-deps.sh --with-display-tools
	scripts/screenshots.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(FUZZ_DIR)
