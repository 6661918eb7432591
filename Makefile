# Everything a fresh Debian machine needs, from bash and make alone.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES := g++ cmake ninja-build libgtest-dev

.PHONY: all deps build test demo install bench sanitize clean

all: build

deps:
	@missing=""; \
	command -v g++ >/dev/null 2>&1 || missing="$$missing g++"; \
	command -v cmake >/dev/null 2>&1 || missing="$$missing cmake"; \
	command -v ninja >/dev/null 2>&1 || missing="$$missing ninja-build"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
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
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

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

clean:
	rm -rf $(BUILD) $(BUILD)-san
