# Thin wrapper: scripts/install-deps installs what each target needs that is missing, CMake
# builds, CTest runs.
BUILD ?= build
CMAKE_FLAGS ?=
configure = cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

.PHONY: run test build deps bench test-asan test-valgrind fuzz mutants lint package package-checks test-in clean

# What every target needs.
deps:
	@scripts/install-deps

# The program alone, with only what it needs to build and run: the tests leave the build tree
# until `make test` configures them back in, the program's own objects untouched.
run:
	@scripts/install-deps run
	@$(configure) -DBUILD_TESTING=OFF
	@cmake --build $(BUILD) --target tavimo
	cd $(BUILD) && ./tavimo

build:
	@scripts/install-deps test
	@$(configure) -DBUILD_TESTING=ON
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure

# Benchmarks: a Release build, headless; prints each figure beside its baseline.
bench:
	@scripts/install-deps bench
	@scripts/bench

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	@scripts/install-deps asan
	@scripts/test-asan

# The window sessions, and a replay of picture files checked for unwritten pixels, under
# valgrind's memcheck.
test-valgrind:
	@scripts/install-deps valgrind
	@scripts/test-valgrind

# The loader's fuzzer; FUZZ_SECONDS=N runs it that long.
fuzz:
	@scripts/install-deps fuzz
	@scripts/fuzz

# Mutation testing: the faults put into src/core and src/ui that no fast test catches. Hours on
# 2 cores, so not in CI. MUTANTS_FILES, MUTANTS_SAMPLE, MUTANTS_SECONDS and MUTANTS_SINCE narrow it.
mutants:
	@scripts/install-deps valgrind
	@MUTANTS_FILES="$(MUTANTS_FILES)" MUTANTS_SAMPLE="$(MUTANTS_SAMPLE)" \
	  MUTANTS_SECONDS="$(MUTANTS_SECONDS)" MUTANTS_SINCE="$(MUTANTS_SINCE)" scripts/mutants

lint:
	@scripts/install-deps lint
	@scripts/lint

# The Debian source and binary packages, built by dpkg-buildpackage in build-deb/.
package:
	@scripts/install-deps package
	@scripts/package

# Debian's five archive checks on the package: clean build, lintian, piuparts, autopkgtest,
# reproducibility (as root, in build-checks/).
package-checks:
	@scripts/install-deps package-checks
	@scripts/package-checks

# `make test`, then the package build and lintian, in a fresh tree of another Debian release
# (SUITE=trixie, the current stable one, in CI; or testing), as root, in build-test-in-SUITE/.
SUITE ?= trixie
test-in:
	@scripts/install-deps test-in
	@scripts/test-in $(SUITE)

clean:
	rm -rf build build-*
