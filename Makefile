# Everything a fresh Debian machine needs, from bash and make alone.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# WERROR=ON treats every warning as an error (continuous integration sets it).
WERROR ?= OFF
PACKAGES := g++ cmake ninja-build libgtest-dev pkg-config libnetcdf-dev netcdf-bin python3-netcdf4 python3-xarray python3-pandas

.PHONY: all deps build test layers format format-check exhaustive row-bench netcdf-bench demo install bench sanitize fuzz fuzz-replay fuzz-runtime clean

all: build

deps:
	@missing=""; \
	command -v g++ >/dev/null 2>&1 || missing="$$missing g++"; \
	command -v cmake >/dev/null 2>&1 || missing="$$missing cmake"; \
	command -v ninja >/dev/null 2>&1 || missing="$$missing ninja-build"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	command -v pkg-config >/dev/null 2>&1 || missing="$$missing pkg-config"; \
	[ -f /usr/include/netcdf.h ] || missing="$$missing libnetcdf-dev"; \
	command -v ncdump >/dev/null 2>&1 || missing="$$missing netcdf-bin"; \
	/usr/bin/python3 -c 'import netCDF4' >/dev/null 2>&1 || missing="$$missing python3-netcdf4"; \
	/usr/bin/python3 -c 'import xarray' >/dev/null 2>&1 || missing="$$missing python3-xarray"; \
	/usr/bin/python3 -c 'import pandas' >/dev/null 2>&1 || missing="$$missing python3-pandas"; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(PACKAGES); \
	  else \
	    echo "missing:$$missing"; \
	    echo "run: sudo apt-get update && sudo apt-get install -y $(PACKAGES)"; \
	    exit 1; \
	  fi; \
	fi

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

demo: build
	@bash examples/run_demo.sh $(BUILD)/varnex

install: build
	install -d $(DESTDIR)$(PREFIX)/bin
	install -m 755 $(BUILD)/varnex $(DESTDIR)$(PREFIX)/bin/varnex

bench: build
	@bash bench/run.sh $(BUILD)

# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	cmake -S . -B $(BUILD)-san -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEX_SANITIZE=ON
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

# Every include points down the layers (textio <- util <- engine <- app).
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
	rm -rf $(BUILD) $(BUILD)-san $(BUILD)-fuzz
