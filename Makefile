# User entry points. `make test` and `make demo` work on a fresh machine:
# they first install what the build needs (as root) or say what to install.

BUILD      ?= build
PGO_BUILD  ?= build-pgo
PGO        ?= 1
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
GENERATOR  ?= Ninja
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX     ?= /usr/local
PACKAGES   := cmake ninja-build g++ make flex bison libfl-dev libgtest-dev libgmock-dev \
              libbenchmark-dev libpng-dev zlib1g-dev libopenexr-dev time clang libclang-rt-dev \
              parallel

.PHONY: all deps build test test-release test-asan fuzz bench demo install format clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing build dependencies:$$missing"; \
	    export DEBIAN_FRONTEND=noninteractive; \
	    apt-get update -qq && apt-get install -y -qq $$missing >/dev/null || exit 1; \
	  else \
	    echo "Missing build dependencies. Run:"; \
	    echo "  sudo apt-get install -y$$missing"; \
	    exit 1; \
	  fi; \
	fi

# The Release build's library is optimised with the branch and call counts
# of an instrumented copy (in PGO_BUILD) rendering the example scenes; it
# renders the same pixels, faster. PGO=0 builds it without.
PGO_DIR := $(abspath $(PGO_BUILD))/profile
build: deps
ifeq ($(PGO),1)
	cmake -S . -B $(PGO_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKORVO_PGO=generate \
	      -DKORVO_PGO_DIR=$(PGO_DIR) -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_BENCH=OFF >/dev/null
	cmake --build $(PGO_BUILD) -j $(JOBS) --target pgo_train
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKORVO_PGO=use \
	      -DKORVO_PGO_DIR=$(PGO_DIR) >/dev/null
else
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DKORVO_PGO= >/dev/null
endif
	cmake --build $(BUILD) -j $(JOBS)

test: test-release test-asan

test-release: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	      -DKORVO_SANITIZE=ON -DKORVO_BUILD_BENCH=OFF >/dev/null
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

# Every fuzz target for FUZZ_SECONDS, seeded from tests/data and examples/;
# fails on any finding (fuzz/run.sh).
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_FUZZ=ON -DKORVO_BUILD_TESTS=OFF \
	  -DKORVO_BUILD_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bin/*_bench; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b" --benchmark_min_time=0.2 || exit 1; \
	done
	@echo "== bench/scene_bench.sh"; bench/scene_bench.sh $(BUILD)

demo: build
	@mkdir -p out
	$(BUILD)/bin/furrender --hair examples/demo/demo.hair --assign examples/demo/demo.assign \
	  --scene examples/demo/demo --frame 1 --size 640x480 --subpixel 2 --backface \
	  --background 0.1,0.11,0.13 --surfaces --surface-color ball=0.45,0.3,0.2 \
	  --surface-color ground=0.42,0.33,0.22 --out out/demo.png

# Installs the library, the public headers, furrender and furtool, the CMake package
# and the pkg-config file under PREFIX (staged under DESTDIR when given).
install: build
	DESTDIR=$(DESTDIR) cmake --install $(BUILD) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(PGO_BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) out
