# The user-facing commands. Each target installs and builds what it needs
# first, so every one of them works alone on a fresh machine.

PYTHON   := /usr/bin/python3
JOBS     ?= 2
BUILD    := build
ASAN     := build-asan
BENCHDIR := build-bench
FUZZDIR  := build-fuzz
FUZZTIME ?= 60
CMAKE_PY := -DPython_EXECUTABLE=$(PYTHON)

.PHONY: deps build test test-core test-py test-asan demo bench fuzz

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_PY)
	cmake --build $(BUILD) -j$(JOBS)

test: test-core test-py test-asan

test-core: build
	$(BUILD)/varnel_core_tests --gtest_brief=1

test-py: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) -m pytest -q tests

# The core tests again under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_SANITIZE=ON -DVARNEL_PYTHON=OFF
	cmake --build $(ASAN) -j$(JOBS) --target varnel_core_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 $(ASAN)/varnel_core_tests --gtest_brief=1

demo: build
	PYTHONPATH=$(BUILD)/python $(PYTHON) examples/quickstart.py
	PYTHONPATH=$(BUILD)/python $(PYTHON) examples/local_store.py

bench: deps
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release -DVARNEL_BENCH=ON -DVARNEL_TESTS=OFF $(CMAKE_PY)
	cmake --build $(BENCHDIR) -j$(JOBS)
	$(BENCHDIR)/varnel_core_bench
	for f in bench/*.py; do PYTHONPATH=$(BENCHDIR)/python $(PYTHON) $$f || exit 1; done

# The libFuzzer targets under fuzz/, built with clang and AddressSanitizer,
# each run for $(FUZZTIME) seconds.
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZDIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_FUZZ=ON -DVARNEL_PYTHON=OFF -DVARNEL_TESTS=OFF
	cmake --build $(FUZZDIR) -j$(JOBS)
	fuzz/run $(FUZZDIR) $(FUZZTIME)
