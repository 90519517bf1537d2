# Thin wrapper over the CMake presets.
#   make demo   build everything and run the stub under wine64
#   make test   build the three presets and the fuzz targets, run every test
.PHONY: all bootstrap build native win32 win64 fuzz demo test bench bench-install bench-download bench-install-online bench-splash screenshots clean

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

bench:
	@scripts/bench

bench-install:
	@scripts/bench-install

bench-download:
	@scripts/bench-download

bench-install-online:
	@scripts/bench-install-online

bench-splash:
	@scripts/bench-splash

screenshots:
	@scripts/screenshots

clean:
	rm -rf build
