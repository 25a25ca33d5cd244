# Front door of the build. `make run` and `make test` do every set-up step
# themselves: packages, configure, build.

# The build that `make build`, `make test` and `make run` use; CI sets
# BUILD_TYPE=Release.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
BUILD_WIN  ?= build-windows
BUILD_SAN  ?= build-sanitize
BUILD_FUZZ ?= build-fuzz
BUILD_CLANG ?= build-clang
# The Release build that `make package` packs (CI packs its tested build).
BUILD_REL  ?= build-release
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

BASE_PKGS    = cmake make g++ ninja-build libgtest-dev libgmock-dev nlohmann-json3-dev iproute2 \
               unixodbc-dev odbcinst postgresql odbc-postgresql libsqliteodbc
WINDOWS_PKGS = g++-mingw-w64-x86-64-posix nlohmann-json3-dev cmake ninja-build groff-base
CLANG_PKGS   = clang-14
# CPack's Debian generator with dpkg-shlibdeps, and lintian.
PACKAGE_PKGS = dpkg-dev file lintian
PACKAGE_CHECK_PKGS = dpkg-dev file man-db wine64
FUZZ_PKGS    = clang-14 libclang-rt-14-dev cmake ninja-build nlohmann-json3-dev
MEMCHECK_PKGS = valgrind

.PHONY: all deps build test run bench windows windows-test release-clang package package-check \
        sanitize fuzz memcheck clean

all: build

deps:
	@tools/ensure_packages.sh $(BASE_PKGS)

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DORN_WERROR=ON

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

run: build
	@tools/run_demo.sh $(BUILD)

bench: build
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

# The Windows executables, and for the Wine tests the test driver and its
# bridge in $(BUILD_WIN)/test-driver/ (never packaged); the MinGW-w64 C
# compiler and DDK headers that the driver needs come with the C++ compiler.
windows:
	@tools/ensure_packages.sh $(WINDOWS_PKGS)
	cmake -S . -B $(BUILD_WIN) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORN_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
	cmake --build $(BUILD_WIN) -j $(JOBS)

# Runs the Windows executables under Wine and compares them with the Linux
# build, case by case; every case that reaches a device runs through
# ORN5300_SIM and through the test driver (tests/windows/run_wine_tests.sh).
windows-test: build windows
	@tools/ensure_packages.sh wine64
	tests/windows/run_wine_tests.sh $(BUILD) $(BUILD_WIN)

# A Release build with clang as anyone would make it, plus warnings as
# errors, and the test suite on it.
release-clang: deps
	@tools/ensure_packages.sh $(CLANG_PKGS)
	cmake -S . -B $(BUILD_CLANG) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORN_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(BUILD_CLANG) -j $(JOBS)
	cd $(BUILD_CLANG) && ctest --output-on-failure -j $(JOBS)

# The Debian package (from a Release build, checked by lintian) and the
# Windows zip file, made by CPack in the two build folders.
package: windows
	@tools/ensure_packages.sh $(BASE_PKGS) $(PACKAGE_PKGS)
	cmake -S . -B $(BUILD_REL) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORN_WERROR=ON
	cmake --build $(BUILD_REL) -j $(JOBS) --target orn_package_contents
	cd $(BUILD_REL) && cpack
	cd $(BUILD_WIN) && cpack
	lintian --fail-on error,warning --display-info "$$(ls -t $(BUILD_REL)/orn5300cli_*.deb | head -1)"

# Installs and runs the packages of `make package` (tools/check_packages.sh).
package-check:
	@tools/ensure_packages.sh $(PACKAGE_CHECK_PKGS)
	tools/check_packages.sh $(BUILD_REL) $(BUILD_WIN)

sanitize: deps
	cmake -S . -B $(BUILD_SAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORN_WERROR=ON -DORN_SANITIZE=ON -DORN_BUILD_BENCH=OFF
	cmake --build $(BUILD_SAN) -j $(JOBS)
	cd $(BUILD_SAN) && ctest --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS seconds; fails on any finding.
fuzz:
	@tools/ensure_packages.sh $(FUZZ_PKGS)
	cmake -S fuzz -B $(BUILD_FUZZ) -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DORN_WERROR=ON
	cmake --build $(BUILD_FUZZ) -j $(JOBS)
	fuzz/run.sh $(BUILD_FUZZ) $(FUZZ_SECONDS)

# A representative part of the end-to-end suite with every orn5300cli run
# under valgrind's memcheck: any memory error or leak fails its test, and a
# filter pattern that matches no test fails the target.
MEMCHECK_FILTER ?= $(subst $(eval) ,:,$(strip \
  CliUsage.* CliDeviceOpen.* CliStages.* ParameterErrors/* \
  DeviceInfoQueries.* DeviceRegisterCommands.* DeviceCabScan.* DeviceLinkState.* \
  DeviceLinkMode.LinkUpAtTheTenthPollIsAccepted \
  DeviceMcu.DownloadVerifyThenVerifyOnly DeviceMcu.VerifyMismatchStopsWithoutReleasing \
  EepromReadCommand.ProbesTheSizeRestoresTheProbedBytesAndSavesTheWholePart \
  EepromWriteCommand.IniConfigurationIsProgrammedAndVerified \
  EepromWriteCommand.BinaryImagesUpToThePartSizeAreWrittenWithZerosBehind \
  EepromWriteCommand.FailuresLeaveTheIdentityWhereItWas \
  EepromWriteCommand.ProductionSeriesFromTheShippedExample \
  ImageFileCli.ExamplesGenerateEveryKindOfImage ImageFileCli.FailuresLeaveNoFileAndKeepAnExistingOne \
  OtpCommand.FirstThenSecondConfigurationFromTheIniFile OtpCommand.BinaryFilesMustSuitTheOtpState \
  OtpCommand.RefusedRunsSendNoProgrammingRequest))

memcheck: build
	@tools/ensure_packages.sh $(MEMCHECK_PKGS)
	@tools/check_test_filter.sh $(BUILD)/tests/test_e2e '$(MEMCHECK_FILTER)'
	ORN_TEST_VALGRIND=1 $(BUILD)/tests/test_e2e --gtest_filter='$(MEMCHECK_FILTER)'

clean:
	rm -rf $(BUILD) $(BUILD_WIN) $(BUILD_SAN) $(BUILD_FUZZ) $(BUILD_CLANG) $(BUILD_REL)
