# The two commands of the README: `make run` and `make test`. A plain `make` builds build/bin/dsmcc.
JOBS ?= 2
CMAKE_EXTRA := $(if $(CI),-DDSMCC_WERROR=ON,)
SAMPLE := samples/carousel-sample.ts
PREFIX ?= /usr/local

.PHONY: all deps build run test test-default test-asan test-tsan fuzz bench install clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	@cmake --preset default $(CMAKE_EXTRA) > /dev/null
	@cmake --build --preset default -j $(JOBS)

run: build
	build/bin/dsmcc $(SAMPLE)

test: deps test-default test-asan test-tsan
	@echo "all test configurations passed"

test-default:
	@cmake --preset default $(CMAKE_EXTRA) > /dev/null
	@cmake --build --preset default -j $(JOBS)
	@ctest --preset default

test-asan:
	@cmake --preset asan $(CMAKE_EXTRA) > /dev/null
	@cmake --build --preset asan -j $(JOBS)
	@ctest --preset asan

test-tsan:
	@cmake --preset tsan $(CMAKE_EXTRA) > /dev/null
	@cmake --build --preset tsan -j $(JOBS) --target tsan_tests
	@ctest --preset tsan

fuzz: build
	@cmake --preset fuzz > /dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@scripts/run-fuzzers.sh $(or $(FUZZ_SECONDS),600)

bench: build
	@build/bin/bench_host
	@build/bin/bench_analyzer

install: build
	@cmake --install build --prefix $(PREFIX)

clean:
	rm -rf build
