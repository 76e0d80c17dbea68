# The two commands of the README. CMake is the only build description; this
# file only sets up, configures, builds and runs.
JOBS ?= $(shell nproc)
RELEASE_DIR := build/release
TEST_DIR := build/test
BENCH_DIR := build/bench

.PHONY: all setup build run test bench clean

all: build

setup:
	@bash tools/setup

build: setup
	@cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_TESTS=OFF >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	@bash tools/run-game $(RELEASE_DIR)/dist/vellumcore $(CURDIR)/mygame

test: setup
	@cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON -DVELLUM_WERROR=ON >/dev/null
	@cmake --build $(TEST_DIR) -j $(JOBS)
	@cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS)

bench: setup
	@bash bench/run $(BENCH_ARGS)

clean:
	rm -rf build
