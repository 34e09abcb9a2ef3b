#!/usr/bin/env bash
# Benchmarks of the Lua plug-in: event dispatch speed against hand-written Lua calls,
# and a leak and memory-error check of repeated init / events / shutdown under valgrind.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$(dirname "$here")/build-bench}

command -v valgrind >/dev/null || { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null; }
BUILD_DIR=$build bash "$here/build.sh" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF

echo "== dispatch: 1,000,000 text-message events"
"$build/bench/bench_luaplugin" dispatch 1000000 2>/dev/null | grep -v -E '^(LUA_PLUGIN|Initializing|Shutting)'

# Wall time on a shared machine varies from run to run; instructions do not.
echo "== dispatch under callgrind: instructions per event, the same run both ways"
profile=$(mktemp /tmp/vx5-callgrind.XXXXXX)
valgrind --quiet --tool=callgrind --callgrind-out-file="$profile" "$build/bench/bench_luaplugin" dispatch 20000 \
  >/dev/null 2>&1
inclusive() { callgrind_annotate --inclusive=yes "$profile" 2>/dev/null | grep -F "$1" | head -1 | awk '{ gsub(",", "", $1); print $1 }'; }
ours=$(inclusive "throughDispatcher")
theirs=$(inclusive "baseline(")
rm -f "$profile"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "dispatcher / baseline instructions: %.2f (target <= 1.30)\n", a / b }'

echo "== lifecycle under valgrind: 100 x (init, 10,000 events, shutdown)"
valgrind --quiet --leak-check=full --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible --error-exitcode=3 \
  "$build/bench/bench_luaplugin" lifecycle 100 10000 | grep -v -E '^(LUA_PLUGIN|Initializing|Shutting|Lua:)'
echo "valgrind: no leaks, no invalid accesses"
