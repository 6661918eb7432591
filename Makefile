# Everything a fresh Debian machine needs, from bash and make alone.
BUILD ?= build
# The program alone, without the tests: for demo, install and package.
PROGRAM_BUILD ?= $(BUILD)-program
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# WERROR=ON treats every warning as an error (continuous integration sets it).
WERROR ?= OFF
# The maintainer the package names, as Name <address> (empty: the one already configured,
# at first the project's placeholder).
VARNEX_MAINTAINER ?=
BUILD_PACKAGES := g++ cmake ninja-build libcli11-dev pkg-config libnetcdf-dev zlib1g-dev libzstd-dev liblzma-dev
# The Python module: built with pybind11 for Debian's python3, which imports the rest.
PYTHON_PACKAGES := pybind11-dev python3-dev python3-numpy python3-xarray python3-pandas
PROGRAM_PACKAGES := $(BUILD_PACKAGES) $(PYTHON_PACKAGES)
DEMO_PACKAGES := $(BUILD_PACKAGES) netcdf-bin gzip
PACKAGE_PACKAGES := $(PROGRAM_PACKAGES) dpkg-dev file
PACKAGES := $(PROGRAM_PACKAGES) gzip zstd xz-utils libgtest-dev groff dpkg-dev file lintian netcdf-bin python3-netcdf4 \
	python3-matplotlib python3-pytest

.PHONY: all deps deps-program deps-demo deps-package build program test demo install uninstall package bench sanitize \
	fuzz fuzz-replay fuzz-runtime clean layers format format-check exhaustive row-bench netcdf-bench

all: build

# $(call install_missing,PACKAGES): each package is known by a command or a header it
# provides; the missing ones are installed when run as root, otherwise named.
define install_missing
@missing=""; \
for package in $(1); do \
  case $$package in \
    g++) command -v g++ ;; \
    cmake) command -v cmake ;; \
    ninja-build) command -v ninja ;; \
    libcli11-dev) test -f /usr/include/CLI/CLI.hpp ;; \
    libgtest-dev) test -f /usr/include/gtest/gtest.h ;; \
    groff) command -v groff ;; \
    dpkg-dev) command -v dpkg-shlibdeps ;; \
    file) command -v file ;; \
    lintian) command -v lintian ;; \
    pkg-config) command -v pkg-config ;; \
    libnetcdf-dev) test -f /usr/include/netcdf.h ;; \
    zlib1g-dev) test -f /usr/include/zlib.h ;; \
    libzstd-dev) test -f /usr/include/zstd.h ;; \
    liblzma-dev) test -f /usr/include/lzma.h ;; \
    gzip) command -v gzip ;; \
    zstd) command -v zstd ;; \
    xz-utils) command -v xz ;; \
    netcdf-bin) command -v ncdump ;; \
    python3-netcdf4) /usr/bin/python3 -c 'import netCDF4' ;; \
    python3-xarray) /usr/bin/python3 -c 'import xarray' ;; \
    python3-pandas) /usr/bin/python3 -c 'import pandas' ;; \
    python3-numpy) /usr/bin/python3 -c 'import numpy' ;; \
    python3-matplotlib) /usr/bin/python3 -c 'import matplotlib' ;; \
    python3-pytest) /usr/bin/python3 -c 'import pytest' ;; \
    python3-dev) test -f /usr/include/python3.11/Python.h ;; \
    pybind11-dev) test -f /usr/include/pybind11/pybind11.h ;; \
  esac >/dev/null 2>&1 || missing="$$missing $$package"; \
done; \
if [ -n "$$missing" ]; then \
  if [ "$$(id -u)" = 0 ]; then \
    echo "installing:$$missing"; \
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
  else \
    echo "missing:$$missing"; \
    echo "run: sudo apt-get update && sudo apt-get install -y --no-install-recommends$$missing"; \
    exit 1; \
  fi; \
fi
endef

deps:
	$(call install_missing,$(PACKAGES))

deps-program:
	$(call install_missing,$(PROGRAM_PACKAGES))

deps-demo:
	$(call install_missing,$(DEMO_PACKAGES))

deps-package:
	$(call install_missing,$(PACKAGE_PACKAGES))

$(BUILD)/build.ninja: CMakeLists.txt | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEX_WERROR=$(WERROR)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Every float an f8.3 series field can show, quick row writer against the general one.
exhaustive: build
	cmake --build $(BUILD) -j $(JOBS) --target varnex_exhaustive
	$(BUILD)/varnex_exhaustive

row-bench: build
	cmake --build $(BUILD) -j $(JOBS) --target varnex_row_bench
	$(BUILD)/varnex_row_bench

netcdf-bench: build
	cmake --build $(BUILD) -j $(JOBS) --target varnex_netcdf_bench
	$(BUILD)/varnex_netcdf_bench

$(PROGRAM_BUILD)/build.ninja: CMakeLists.txt | deps-program
	cmake -S . -B $(PROGRAM_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

# The program and the archive generator, their gzipped man pages, the copyright file and
# the changelog, and the Python module, without the test suite (and without GoogleTest).
program: deps-program $(PROGRAM_BUILD)/build.ninja
	$(if $(VARNEX_MAINTAINER),cmake -S . -B $(PROGRAM_BUILD) "-DVARNEX_MAINTAINER=$(VARNEX_MAINTAINER)")
	cmake --build $(PROGRAM_BUILD) -j $(JOBS) --target varnex varnex_archive varnex_docs varnex_python

# The demonstration runs varnex alone: nothing else is built.
demo: deps-demo $(PROGRAM_BUILD)/build.ninja
	cmake --build $(PROGRAM_BUILD) -j $(JOBS) --target varnex
	@bash examples/run_demo.sh $(PROGRAM_BUILD)/varnex

# The install() rules of CMake, which the packages follow too. The Python module goes to
# PREFIX/lib/python3.11/dist-packages, or /usr/lib/python3/dist-packages for PREFIX=/usr.
install: program
	DESTDIR="$(DESTDIR)" cmake --install $(PROGRAM_BUILD) --prefix "$(PREFIX)"

# Also the uncompressed man page that earlier installations left.
uninstall:
	rm -f "$(DESTDIR)$(PREFIX)/bin/varnex" "$(DESTDIR)$(PREFIX)/bin/varnex-archive" \
	  "$(DESTDIR)$(PREFIX)/share/man/man1/varnex.1.gz" "$(DESTDIR)$(PREFIX)/share/man/man1/varnex-archive.1.gz" \
	  "$(DESTDIR)$(PREFIX)/share/man/man1/varnex.1" \
	  "$(DESTDIR)$(PREFIX)/share/doc/varnex/copyright" "$(DESTDIR)$(PREFIX)/share/doc/varnex/changelog.gz" \
	  "$(DESTDIR)$(PREFIX)"/lib/python3*/dist-packages/varnex.cpython-*.so \
	  "$(DESTDIR)$(PREFIX)/share/doc/python3-varnex/copyright" "$(DESTDIR)$(PREFIX)/share/doc/python3-varnex/changelog.gz"
	rmdir "$(DESTDIR)$(PREFIX)/share/doc/varnex" "$(DESTDIR)$(PREFIX)/share/doc/python3-varnex" 2>/dev/null || true

# A .deb of the program, the archive generator (varnex-archive), their man pages, the
# copyright file and the changelog, and python3-varnex, the Python module with the same two
# files.
package: deps-package program
	cd $(PROGRAM_BUILD) && cpack -G DEB
	@ls $(PROGRAM_BUILD)/*.deb

bench: build
	@bash bench/run.sh $(BUILD)
	@bash bench/selections.sh $(BUILD)

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer, built
# with -O1 and line tables only: half the compile time of -O2 -g, with stack traces that
# still name files and lines.
SANITIZE_FLAGS ?= -O1 -g1 -DNDEBUG
sanitize: deps
	cmake -S . -B $(BUILD)-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_SANITIZE=ON \
	  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=$(SANITIZE_FLAGS)" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=$(SANITIZE_FLAGS)"
	cmake --build $(BUILD)-san -j $(JOBS)
	cd $(BUILD)-san && ctest --output-on-failure -j $(JOBS)

# libFuzzer targets of tests/fuzz (clang++ with ASan and UBSan); tests/fuzz/README.md says
# how to run them. fuzz-replay runs each target once over its committed corpus, and is
# skipped with a message where clang++ is absent.
FUZZ_CXX ?= clang++
fuzz: deps
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) \
	  -DVARNEX_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build $(BUILD)-fuzz -j $(JOBS)

fuzz-replay:
	@if ! command -v $(FUZZ_CXX) >/dev/null 2>&1; then \
	  echo "fuzz corpus replay skipped: $(FUZZ_CXX) not found"; \
	elif ! $(MAKE) --no-print-directory fuzz-runtime; then \
	  echo "fuzz corpus replay skipped: no libFuzzer runtime for $(FUZZ_CXX)"; \
	else \
	  $(MAKE) --no-print-directory fuzz && cd $(BUILD)-fuzz && ctest --output-on-failure -j $(JOBS); \
	fi

# Succeeds when $(FUZZ_CXX) can link an OpenMP fuzzer, installing the runtimes first if it can.
fuzz-runtime:
	@probe=$$(mktemp -d); \
	printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > $$probe/p.cpp; \
	link() { $(FUZZ_CXX) -fopenmp -fsanitize=fuzzer $$probe/p.cpp -o $$probe/p >/dev/null 2>&1; }; \
	if ! link && [ "$$(id -u)" = 0 ]; then \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libclang-rt-dev libomp-dev >/dev/null 2>&1; \
	fi; \
	link; ok=$$?; rm -rf $$probe; exit $$ok

# Every include points down the layers (textio <- util <- engine <- app <- python).
layers:
	@bash tools/check_layers.sh

# Every C++ source is laid out as .clang-format says.
format-check:
	@command -v clang-format >/dev/null 2>&1 || { [ "$$(id -u)" = 0 ] && apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format >/dev/null; }
	@clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.hpp') && echo "format: every source follows .clang-format"

# Lays every C++ source out as .clang-format says.
format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf $(BUILD) $(BUILD)-san $(BUILD)-fuzz $(PROGRAM_BUILD)
