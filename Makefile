# Thin wrapper: scripts/install-deps installs what is missing, CMake builds, CTest runs.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: run test build deps configure bench test-asan test-valgrind fuzz mutants lint package package-checks clean

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

run: build
	cd $(BUILD) && ./tavimo

test: build
	@cd $(BUILD) && ctest --output-on-failure

# Benchmarks: a Release build, headless; prints each figure beside its baseline.
bench: deps
	@scripts/bench

# The tests again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	@scripts/test-asan

# The window sessions, and a replay of picture files checked for unwritten pixels, under
# valgrind's memcheck.
test-valgrind: deps
	@scripts/test-valgrind

# The loader's fuzzer; FUZZ_SECONDS=N runs it that long.
fuzz: deps
	@scripts/fuzz

# Mutation testing: the faults put into src/core and src/ui that no fast test catches. Hours on
# 2 cores, so not in CI. MUTANTS_FILES, MUTANTS_SAMPLE, MUTANTS_SECONDS and MUTANTS_SINCE narrow it.
mutants: deps
	@MUTANTS_FILES="$(MUTANTS_FILES)" MUTANTS_SAMPLE="$(MUTANTS_SAMPLE)" \
	  MUTANTS_SECONDS="$(MUTANTS_SECONDS)" MUTANTS_SINCE="$(MUTANTS_SINCE)" scripts/mutants

lint: deps
	@scripts/lint

# The Debian source and binary packages, built by dpkg-buildpackage in build-deb/.
package: deps
	@scripts/package

# Debian's five archive checks on the package: clean build, lintian, piuparts, autopkgtest,
# reproducibility (as root, in build-checks/).
package-checks: deps
	@scripts/package-checks

clean:
	rm -rf build build-*
