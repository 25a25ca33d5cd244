# Front door of the build. `make run` and `make test` do every set-up step
# themselves: packages, configure, build.

BUILD      ?= build
BUILD_WIN  ?= build-windows
BUILD_SAN  ?= build-sanitize
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

BASE_PKGS    = cmake make g++ ninja-build libgtest-dev libgmock-dev nlohmann-json3-dev iproute2
WINDOWS_PKGS = g++-mingw-w64-x86-64-posix nlohmann-json3-dev cmake ninja-build

.PHONY: all deps build test run bench windows windows-test sanitize clean

all: build

deps:
	@tools/ensure_packages.sh $(BASE_PKGS)

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@tools/run_demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

windows:
	@tools/ensure_packages.sh $(WINDOWS_PKGS)
	cmake -S . -B $(BUILD_WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(BUILD_WIN) -j $(JOBS)

# Runs the Windows executables under Wine and compares them with the Linux
# build, case by case.
windows-test: build windows
	@tools/ensure_packages.sh wine64
	tests/windows/run_wine_tests.sh $(BUILD) $(BUILD_WIN)

sanitize: deps
	cmake -S . -B $(BUILD_SAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORN_SANITIZE=ON -DORN_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(BUILD_WIN) $(BUILD_SAN)
