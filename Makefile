# zelto: `make run` builds and starts the terminal, `make test` builds and runs every test.
# Both install what is missing first (scripts/bootstrap).

JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
DESTDIR ?=
RELEASE_DIR := build/release
TEST_DIR := build/test

.PHONY: all bootstrap build run test install clean

all: build

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target zelto

run: build
	$(RELEASE_DIR)/src/app/zelto $(ARGS)

test: bootstrap
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DZELTO_TESTS=ON -DZELTO_SANITIZE=ON -DZELTO_WERROR=ON
	cmake --build $(TEST_DIR) -j $(JOBS)
	ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS)

install: build
	DESTDIR=$(DESTDIR) cmake --install $(RELEASE_DIR)

clean:
	rm -rf build

# --- terminal core: interpreter fuzzer and benchmark ---------------------------------------
# `make fuzz FUZZ_SECONDS=1800` runs the libFuzzer target (clang) for that long;
# `make bench` prints one line per workload and chunk size, beside libvterm.
FUZZ_SECONDS ?= 60
.PHONY: fuzz bench
fuzz: bootstrap
	JOBS=$(JOBS) scripts/fuzz $(FUZZ_SECONDS)

bench: bootstrap
	JOBS=$(JOBS) scripts/bench

# `make bench-peers` times zelto beside xterm, alacritty, kitty and st (several minutes).
.PHONY: bench-peers
bench-peers: bootstrap
	JOBS=$(JOBS) scripts/bench-peers
