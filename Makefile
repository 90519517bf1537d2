# Thin wrapper over the CMake presets.
#   make demo   build everything and run the stub under wine64
#   make test   build the three presets and the fuzz targets, run every test
#               (and the PE32 runs, when the emulated guests have been made)
#   make test-pe32  the shipped PE32 stub in the emulated guests (makes them
#               first, once: scripts/pe32-guest)
.PHONY: all bootstrap build native win32 win64 fuzz demo test test-pe32 bench bench-install bench-download bench-install-online bench-memory bench-splash bench-collect screenshots clean

JOBS ?= $(shell nproc)

all: build

bootstrap:
	@scripts/bootstrap

native win32 win64 fuzz: bootstrap
	@cmake --preset $@ >/dev/null
	@cmake --build --preset $@ -j $(JOBS)

build: native win32 win64

demo: build
	@scripts/demo

test: build fuzz
	@ctest --preset native -j $(JOBS)
	@ctest --test-dir build/win32 -j $(JOBS) --output-on-failure
	@ctest --preset win64 -j $(JOBS)
	@ctest --preset fuzz -j $(JOBS)
	@scripts/test-pe32 --if-ready

test-pe32: build
	@scripts/test-pe32

bench:
	@scripts/bench

bench-install:
	@scripts/bench-install

bench-download:
	@scripts/bench-download

bench-install-online:
	@scripts/bench-install-online

bench-memory:
	@scripts/bench-memory

bench-splash:
	@scripts/bench-splash

bench-collect:
	@scripts/bench-collect

screenshots:
	@scripts/screenshots

clean:
	rm -rf build
