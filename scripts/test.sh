#!/usr/bin/env bash
# Builds the project and runs the whole test suite; exits non-zero when any test fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$(dirname "$here")/build}

bash "$here/build.sh" -DBUILD_TESTING=ON
cd "$build"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
