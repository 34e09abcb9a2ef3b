#!/usr/bin/env bash
# Benchmarks of the updater's file handling beside the standard tools, in one run:
#  - MD5 check of a 1 GiB file against md5sum (target: at least 0.9 times its
#    throughput, peak memory under 64 MiB);
#  - unpacking a 256 MiB gzip file against "gzip -dc > file" (target: at least 0.9
#    times its speed).
# Files are made in a scratch folder (BENCH_DIR, default under /tmp) and removed after.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$(dirname "$here")/build-bench}
scratch=${BENCH_DIR:-$(mktemp -d /tmp/vx5-bench-files.XXXXXX)}
trap 'rm -rf "$scratch"' EXIT

BUILD_DIR=$build bash "$here/build.sh" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
bench="$build/bench/bench_filecheck"

seconds() { local start=$(date +%s.%N); "$@" >/dev/null; awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "== MD5 check of a 1 GiB file"
head -c 1G /dev/urandom > "$scratch/package.bin"
expected=$(md5sum "$scratch/package.bin" | cut -d' ' -f1) # also warms the page cache
theirs=$(seconds md5sum "$scratch/package.bin")
result=$("$bench" md5 "$scratch/package.bin" "$expected")
ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
echo "md5sum: ${theirs} s"
echo "ours:   $result"
echo "throughput ours / md5sum: $(ratio "$theirs" "$ours") (target >= 0.90)"
rm -f "$scratch/package.bin"

echo "== unpacking a 256 MiB gzip file"
# Compressible, not trivially so: text lines with varying numbers.
{ seq 1 100000000 || true; } | head -c 256M > "$scratch/package"
gzip -6 -c "$scratch/package" > "$scratch/package.gz"
rm -f "$scratch/package"
theirs=$(seconds bash -c "gzip -dc '$scratch/package.gz' > '$scratch/by-gzip'")
result=$("$bench" unzip "$scratch/package.gz" "$scratch/by-us")
ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
cmp "$scratch/by-gzip" "$scratch/by-us"
echo "gzip -dc: ${theirs} s"
echo "ours:     $result"
echo "speed ours / gzip -dc: $(ratio "$theirs" "$ours") (target >= 0.90)"
