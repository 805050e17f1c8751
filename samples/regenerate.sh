#!/bin/sh
# Rebuilds samples/carousel-sample.ts from the files under samples/carousel with the project's test
# builder. Run from the project's top folder after a plain `make` (which configures build/).
set -e
cd "$(dirname "$0")/.."
cmake --build build --target make_sample
build/bin/make_sample samples/carousel samples/carousel-sample.ts
