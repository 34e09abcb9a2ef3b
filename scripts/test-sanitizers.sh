#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/, or
# $BUILD_DIR) and runs the whole test suite under them; any finding fails the run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$(dirname "$here")/build-asan}

BUILD_DIR=$build bash "$here/build.sh" -DBUILD_TESTING=ON -DVX5_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cd "$build"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
