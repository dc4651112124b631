# quenvar — the two commands a newcomer needs are `make run` and `make test`.
BUILD_DIR      ?= build
SANITIZE_DIR   ?= build-sanitize
BUILD_TYPE     ?= RelWithDebInfo
JOBS           ?= $(shell nproc)
CMAKE_FLAGS    ?=


.PHONY: all deps build build-sanitize test test-plain test-sanitize run bench screenshots clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_FLAGS)

$(SANITIZE_DIR)/build.ninja: | deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUENVAR_SANITIZE=ON $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-sanitize: deps $(SANITIZE_DIR)/build.ninja
	cmake --build $(SANITIZE_DIR) -j $(JOBS)

# Every test, once in a normal build and once under AddressSanitizer + UndefinedBehaviorSanitizer.
test: test-plain test-sanitize

test-plain: build
	scripts/run-tests.sh $(BUILD_DIR)

test-sanitize: build-sanitize
	scripts/run-tests.sh $(SANITIZE_DIR) --sanitize

run: build
	scripts/run.sh $(BUILD_DIR)

bench: build
	scripts/run-benchmarks.sh $(BUILD_DIR)

screenshots: build
	@scripts/install-deps.sh --with-display-tools
	scripts/screenshots.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
