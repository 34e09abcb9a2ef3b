#!/usr/bin/env bash
# Installs what the build needs, then configures and builds everything into build/
# (or $BUILD_DIR). Extra arguments go to CMake's configure step.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD_DIR:-$top/build}

bash "$here/install-deps.sh"
cmake -S "$top" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build"
