#!/usr/bin/env bash
# Download benchmarks against a real HTTP server (nginx on a loopback port, started and
# stopped here), each beside the standard tools in the same run:
#  (a) 400 files of 64 KiB and (b) 4 files of 128 MiB, downloaded 6 at a time and each
#      MD5-checked, against curl --parallel --parallel-max 6 followed by md5sum, best of
#      five (a) or three (b) alternating rounds (target: at most 1.1 times curl's wall time
#      for (a), 1.25 for (b); memory not growing with file size); (a) also over HTTPS,
#      with HTTP/1.1 and with HTTP/2, beside curl over the same protocol (targets 1.0, 1.1);
#  (c) compiling the lists of an up-to-date installation of 2,000 files (1 GiB) against
#      md5sum over the same files (target: at most 1.2 times);
#  (d) a whole update through the update engine, releases made by the release tool: 400
#      files of 64 KiB and 4 of 128 MiB over an installation of the previous release, against
#      curl --parallel --parallel-max 6, md5sum, cp into place and sync, the same work made
#      durable (target: at most 1.1 times; the ratio without the sync is printed too; peak
#      memory independent of file size); also over HTTPS with HTTP/1.1 and with HTTP/2;
#  (e) a no-op update through the engine (all 2,000 files, 1 GiB, current) against md5sum
#      over the files (target: at most 1.2 times);
#  (f) a point release of compiled code: the project's own update and lua_plugin.so built
#      at two commits one fix apart (BENCH_POINT_RELEASE="OLD NEW"), beside unchanged and
#      small files, published with patches and without, each updated through the engine:
#      bytes fetched (nginx's access log), wall time, the time a 10 Mbit/s line needs for
#      those bytes, peak memory (targets: bytes with patches at most 30% of the bytes
#      without; wall time at most 1.1 times); the same for twenty commits up to now;
#  (g) a long line: a whole update of a fresh installation (400 files of 2-128 KiB, 27 MB)
#      through scripts/linerelay.py (50 Mbit/s each way, 150 ms and 60 ms round trips) before
#      nginx, over plain HTTP and over HTTPS with HTTP/2, beside curl doing the same work over
#      the same protocol and connections (the product ini and its signature, then the files,
#      md5sum, cp, sync) and beside the time the line needs for the bytes alone (targets: HTTP/2
#      at most 1.3 times the bytes' time at 150 ms; plain HTTP at most curl's time; the 60 ms
#      rows at most 1.1 times the bytes' time); the round trips before the first file is
#      requested and the most connections open at once.
# BENCH_ONLY=g (or a,d ...) runs only those sections.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD_DIR:-$(dirname "$here")/build-bench}
scratch=${BENCH_DIR:-$(mktemp -d /tmp/vx5-bench-downloads.XXXXXX)}
mkdir -p "$scratch"
port=${BENCH_PORT:-18080}

source "$here/nginx.sh"
ensure_nginx
BUILD_DIR=$build bash "$here/build.sh" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
bench="$build/bench/bench_downloads"
release="$build/tools/release/vx5-release"
key="$top/tools/keys/TEST_AND_DEMO_ONLY_private.key"

cleanup() {
  stop_nginx
  rm -rf "$scratch"
}
trap cleanup EXIT

# HTTPS on the next two ports, HTTP/1.1 and HTTP/2, with a certificate made for the run that
# both sides are told to trust.
https1=$((port + 1))
https2=$((port + 2))
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$scratch/server.key" -out "$scratch/server.crt" -days 1 \
  -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null
export BENCH_CA_FILE="$scratch/server.crt"
tls="ssl_protocols TLSv1.2 TLSv1.3; ssl_certificate $scratch/server.crt; ssl_certificate_key $scratch/server.key; root $scratch/www;"
mkdir -p "$scratch/www/100/files"
start_nginx "$scratch" "$scratch/www" "$port" "access_log $scratch/access.log combined;" \
  "server { listen 127.0.0.1:$https1 ssl; $tls } server { listen 127.0.0.1:$https2 ssl http2; $tls }"
# The three ways to the server: base URL and curl's options for each.
declare -A base=([http]="http://127.0.0.1:$port" [https1]="https://127.0.0.1:$https1" \
                 [https2]="https://127.0.0.1:$https2")
declare -A curl_options=([http]="" [https1]="--http1.1 --cacert $scratch/server.crt" \
                         [https2]="--http2 --cacert $scratch/server.crt")

seconds() { local start=$(date +%s.%N); "$@" >/dev/null; awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f", b - a }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# Whether section $1 runs: BENCH_ONLY lists the sections to run ("g", "a,d"); unset, all run.
want() { [ -z "${BENCH_ONLY:-}" ] || [[ ",$BENCH_ONLY," == *",$1,"* ]]; }

# Makes COUNT random files of SIZE under www/100/files/SET and their download list.
make_set() {
  local set=$1 count=$2 size=$3
  mkdir -p "$scratch/www/100/files/$set"
  : > "$scratch/$set.list"
  : > "$scratch/$set.curl"
  for i in $(seq 1 "$count"); do
    local file="$scratch/www/100/files/$set/f$i.bin"
    head -c "$size" /dev/urandom > "$file"
    echo "files $set/f$i.bin $(md5sum "$file" | cut -d' ' -f1) $size" >> "$scratch/$set.list"
    printf 'url = "BASE/100/files/%s/f%s.bin"\noutput = "%s/curl/%s/f%s.bin"\n' \
      "$set" "$i" "$scratch" "$set" "$i" >> "$scratch/$set.curl"
  done
}

# One side's run over one way to the server: curl + md5sum, or ours; prints its seconds
# (ours: its whole report).
run_curl() {
  local set=$1 way=$2
  rm -rf "$scratch/curl"
  mkdir -p "$scratch/curl/$set"
  sed "s|BASE|${base[$way]}|" "$scratch/$set.curl" > "$scratch/$set.$way.curl"
  sync
  seconds bash -c "curl -s ${curl_options[$way]} --parallel --parallel-max 6 -K '$scratch/$set.$way.curl' 2>/dev/null \
    && md5sum '$scratch/curl/$set'/*"
  rm -rf "$scratch/curl"
}
run_ours() {
  local set=$1 way=$2
  rm -rf "$scratch/ours"
  mkdir -p "$scratch/ours"
  sync
  "$bench" download "${base[$way]}" "$scratch/ours" "$scratch/$set.list" 6
  rm -rf "$scratch/ours"
}

# Best of ROUNDS rounds each (default three), the order alternating: a side that creates its
# files just after the other deleted as many pays for it on some file systems (ext4 without a
# journal looks past recently deleted inodes), and neither side is to pay more often than the
# other. The small files take a fifth of a second a round: they get five.
run_set() {
  local set=$1 label=$2 target=$3 way=${4:-http} rounds=${5:-3}
  local theirs=999 ours=999 report="" t result
  for round in $(seq 1 "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
      t=$(run_curl "$set" "$way"); result=$(run_ours "$set" "$way")
    else
      result=$(run_ours "$set" "$way"); t=$(run_curl "$set" "$way")
    fi
    theirs=$(awk -v a="$theirs" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
    local seconds_ours
    seconds_ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
    if awk -v a="$seconds_ours" -v b="$ours" 'BEGIN { exit !(a < b) }'; then
      ours=$seconds_ours
      report=$result
    fi
  done
  echo "== $label"
  echo "curl + md5sum: ${theirs} s (best of $rounds)"
  echo "ours:          $report (best of $rounds)"
  echo "time ours / curl+md5sum: $(ratio "$ours" "$theirs") (target <= $target)"
}

if want a; then
  make_set small 400 65536
  run_set small "(a) 400 files of 64 KiB, 6 at a time" 1.10 http 5
  run_set small "(a) the same over HTTPS, HTTP/1.1" 1.00 https1 5
  run_set small "(a) the same over HTTPS, HTTP/2" 1.10 https2 5
fi
if want b; then
  make_set large 4 134217728
  run_set large "(b) 4 files of 128 MiB, 6 at a time" 1.25
fi
rm -rf "$scratch/www/100"

want c && {
echo "== (c) lists of an up-to-date installation: 2,000 files, 1 GiB"
mkdir -p "$scratch/install" "$scratch/temp"
{
  echo "[files]"
  for i in $(seq 1 2000); do
    head -c 524288 /dev/urandom > "$scratch/install/f$i.bin"
    echo "f$i.bin=$(md5sum "$scratch/install/f$i.bin" | cut -d' ' -f1)::524288"
  done
} > "$scratch/temp/client_linux_amd64.ini"
sync
theirs=$(seconds bash -c "md5sum '$scratch/install'/*")
result=$("$bench" compile "$scratch/install" "$scratch/temp")
ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
echo "md5sum: ${theirs} s"
echo "ours:   $result"
echo "time ours / md5sum: $(ratio "$ours" "$theirs") (target <= 1.20)"
}

# An installation of a release as the updater lays it out, with the mirror on the server.
install_release() {
  local tree=$1 dir=$2 way=${3:-http}
  rm -rf "$dir"
  cp -a "$tree" "$dir"
  printf '[update]\nstreams=6\n' > "$dir/update.ini"
  printf '[mirrors]\nsize=1\n1\\mirror=local\n[local]\nurl=%s\n' "${base[$way]}" > "$dir/mirrors.ini"
}

random_files() {
  local dir=$1 count=$2 size=$3
  mkdir -p "$dir"
  for i in $(seq 1 "$count"); do head -c "$size" /dev/urandom > "$dir/f$i.bin"; done
}

# Release B over an installation of release A, through the engine and through curl + md5sum +
# cp + sync, over one way to the server.
whole_update() {
  local way=$1 label=$2
  echo "== (d) a whole update: 400 x 64 KiB + 4 x 128 MiB over the previous release$label"
  install_release "$scratch/treeA" "$scratch/install" "$way"
  install_release "$scratch/treeA" "$scratch/baseline" "$way"
  (cd "$scratch/treeB" && find . -type f | sed 's|^\./||') | while read -r file; do
    printf 'url = "%s/101/files/%s"\noutput = "%s/fetched/%s"\n' "${base[$way]}" "$file" "$scratch" "$file"
  done > "$scratch/update.curl"
  sync
  local theirs flushed durable result ours
  theirs=$(seconds bash -c "curl -s ${curl_options[$way]} --create-dirs --parallel --parallel-max 6 \
    -K '$scratch/update.curl' 2>/dev/null && (cd '$scratch/fetched' && find . -type f -exec md5sum {} + >/dev/null) \
    && cp -r '$scratch/fetched/.' '$scratch/baseline/'")
  # The updater makes its work survive a power cut; the same work made durable is the
  # baseline's copy written to the disk.
  flushed=$(seconds sync)
  durable=$(awk -v a="$theirs" -v b="$flushed" 'BEGIN { printf "%.3f", a + b }')
  rm -rf "$scratch/fetched" "$scratch/baseline"
  sync
  result=$(TMPDIR="$scratch/tmp" "$bench" update "$scratch/install" 101)
  ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
  diff -rq -x update.ini -x mirrors.ini "$scratch/treeB" "$scratch/install" >/dev/null
  echo "curl + md5sum + cp: ${theirs} s, then sync: ${flushed} s"
  echo "ours:               $result"
  echo "time ours / (curl + md5sum + cp + sync): $(ratio "$ours" "$durable") (target <= 1.10)"
  echo "time ours / (curl + md5sum + cp), not made durable: $(ratio "$ours" "$theirs")"
}

rm -rf "$scratch/install" "$scratch/temp"
mkdir -p "$scratch/www" "$scratch/tmp"
want d && {
for tree in A B; do
  random_files "$scratch/tree$tree/small" 400 65536
  random_files "$scratch/tree$tree/large" 4 134217728
done
"$release" --version 100 --key "$key" "$scratch/treeA" "$scratch/www" >/dev/null
"$release" --version 101 --key "$key" --previous "$scratch/treeA" "$scratch/treeB" "$scratch/www" >/dev/null
whole_update http ""
whole_update https1 ", over HTTPS, HTTP/1.1"
whole_update https2 ", over HTTPS, HTTP/2"
rm -rf "$scratch/treeA" "$scratch/treeB" "$scratch/www/100" "$scratch/www/101" "$scratch/install"
}

want e && {
echo "== (e) a no-op update: 2,000 files, 1 GiB, all current"
random_files "$scratch/treeC" 2000 524288
"$release" --version 102 --key "$key" "$scratch/treeC" "$scratch/www" >/dev/null
install_release "$scratch/treeC" "$scratch/install"
rm -rf "$scratch/www/102/files"
sync
md5sum "$scratch/install"/*.bin >/dev/null # both sides read from the page cache
theirs=$(seconds bash -c "md5sum '$scratch/install'/*.bin")
result=$(TMPDIR="$scratch/tmp" "$bench" update "$scratch/install" 102)
ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
echo "md5sum: ${theirs} s"
echo "ours:   $result"
echo "time ours / md5sum: $(ratio "$ours" "$theirs") (target <= 1.20)"
rm -rf "$scratch/treeC" "$scratch/www/102" "$scratch/install"
}

# The project's update and lua_plugin.so built at COMMIT, copied into TREE.
binaries_at() {
  local commit=$1 tree=$2 source="$scratch/src-$1" built="$scratch/build-$1"
  if [ ! -d "$built" ]; then
    mkdir -p "$source"
    git -C "$top" archive "$commit" | tar -x -C "$source"
    cmake -S "$source" -B "$built" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$built" --target update lua_plugin >/dev/null
  fi
  mkdir -p "$tree/plugins"
  cp "$built/update/update" "$tree/update"
  cp "$built/plugins/lua_plugin.so" "$tree/plugins/lua_plugin.so"
}

# One update of an installation of release A to VERSION: prints "SECONDS BYTES REPORT".
point_update() {
  local version=$1 logged result
  install_release "$scratch/treeA" "$scratch/install"
  logged=$(wc -l < "$scratch/access.log")
  sync
  result=$(TMPDIR="$scratch/tmp" "$bench" update "$scratch/install" "$version")
  diff -rq -x update.ini -x mirrors.ini -x _old_update "$scratch/treeB" "$scratch/install" >/dev/null
  echo "$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')" \
    "$(tail -n +$((logged + 1)) "$scratch/access.log" | awk '{ sum += $10 } END { print sum }')" "$result"
}

# Release A with the binaries of OLD, release B with those of NEW, beside 20 unchanged files
# of 256 KiB and 30 small ones (3 rewritten); B published with patches (as VERSION) and
# without (VERSION + 1); each updated from A three times, alternating.
point_release() {
  local old=$1 new=$2 version=$3 label=$4
  echo "== (f) $label: $(git -C "$top" rev-parse --short "$old") -> $(git -C "$top" rev-parse --short "$new")"
  rm -rf "$scratch/treeA" "$scratch/treeB"
  random_files "$scratch/treeA/data" 20 262144
  cp -r "$scratch/treeA/." "$scratch/treeB/"
  for tree in A B; do
    for i in $(seq 1 30); do echo "notes $i of the client" > "$scratch/tree$tree/notes$i.txt"; done
  done
  for i in 1 2 3; do echo "notes $i, rewritten for the point release" > "$scratch/treeB/notes$i.txt"; done
  binaries_at "$old" "$scratch/treeA"
  binaries_at "$new" "$scratch/treeB"
  local pack=(--pack '*.so' --pack update)
  "$release" --version "$version" --key "$key" "${pack[@]}" "$scratch/treeA" "$scratch/www" >/dev/null
  "$release" --version $((version + 1)) --key "$key" "${pack[@]}" --previous "$scratch/treeA" "$scratch/treeB" \
    "$scratch/www" >/dev/null
  "$release" --version $((version + 2)) --key "$key" "${pack[@]}" --no-patches --previous "$scratch/treeA" \
    "$scratch/treeB" "$scratch/www" >/dev/null
  echo "update: $(stat -c %s "$scratch/treeA/update") -> $(stat -c %s "$scratch/treeB/update") bytes," \
    "lua_plugin.so: $(stat -c %s "$scratch/treeA/plugins/lua_plugin.so") ->" \
    "$(stat -c %s "$scratch/treeB/plugins/lua_plugin.so") bytes"
  local -A best_time=([with]=999 [without]=999) fetched report
  local round way offset t bytes line
  for round in 1 2 3; do
    for way in with without; do
      offset=1
      [ "$way" = without ] && offset=2
      read -r t bytes line < <(point_update $((version + offset)))
      fetched[$way]=$bytes
      if awk -v a="$t" -v b="${best_time[$way]}" 'BEGIN { exit !(a < b) }'; then
        best_time[$way]=$t
        report[$way]=$line
      fi
    done
  done
  for way in with without; do
    printf '%-16s %s bytes fetched, %s s at 10 Mbit/s; %s (best of 3)\n' "$way patches:" "${fetched[$way]}" \
      "$(awk -v b="${fetched[$way]}" 'BEGIN { printf "%.2f", b * 8 / 10e6 }')" "${report[$way]}"
  done
  echo "bytes with / without patches: $(ratio "${fetched[with]}" "${fetched[without]}") (target <= 0.30)"
  echo "time with / without patches on loopback: $(ratio "${best_time[with]}" "${best_time[without]}") (target <= 1.10)"
}

mkdir -p "$scratch/tmp"
want f && {
# A point release: one fix to the updater between two commits (BENCH_POINT_RELEASE="OLD NEW").
read -r point_old point_new <<< "${BENCH_POINT_RELEASE:-c1c0fd5 a530de9}"
point_release "$point_old" "$point_new" 110 "a point release of compiled code (one fix), with patches and without"
# What a patch costs when much changed: twenty commits of new features up to now.
point_release HEAD~20 HEAD 120 "twenty commits of features, with patches and without"
}

# A long line: the relay between the clients and nginx, on the next ports (plain HTTP and
# HTTPS with HTTP/2), at 50 Mbit/s each way with the round trip of the row.
line_mbit=50
relay_http=$((port + 20))
relay_https2=$((port + 21))
declare -A line_base=([http]="http://127.0.0.1:$relay_http" [https2]="https://127.0.0.1:$relay_https2")
# Connections: an HTTP/1.1 mirror serves 3 at once; over HTTP/2 one connection carries them all.
declare -A line_curl=([http]="--parallel-max 3" [https2]="--http2 --cacert $scratch/server.crt --parallel-max 24")
declare -A line_curl_label=([http]="3 connections" [https2]="24 streams on one connection")

start_relay() {
  stop_relay
  python3 "$here/linerelay.py" --mbit "$line_mbit" --rtt-ms "$1" "$relay_http=127.0.0.1:$port" \
    "$relay_https2=127.0.0.1:$https2" > "$scratch/relay.log" &
  relay_pid=$!
  for _ in $(seq 50); do grep -q ready "$scratch/relay.log" 2>/dev/null && return 0; sleep 0.1; done
  echo "the line relay did not start" >&2
  return 1
}
stop_relay() { [ -n "${relay_pid:-}" ] && kill "$relay_pid" 2>/dev/null || true; relay_pid=; }
# The most connections open at once through the relay since its log had $1 lines.
connections_since() { tail -n +$(($1 + 1)) "$scratch/relay.log" | awk '$1 == "open" && $2 > max { max = $2 } END { print max + 0 }'; }

# One row: release 130 (400 files of 2-128 KiB) over the line with round trip $1, one way
# to the server ($2): curl fetching the files and ours updating a fresh installation, best
# of three alternating rounds, beside the time the line needs for the bytes alone.
long_line_row() {
  local rtt=$1 way=$2 theirs=999 ours=999 report="" logged connections t result seconds_ours
  # curl makes the update's requests: the product ini and its signature, then the files.
  (cd "$scratch/treeG" && find . -type f | sed 's|^\./||') | while read -r file; do
    printf 'url = "%s/130/files/%s"\noutput = "%s/fetched/%s"\n' "${line_base[$way]}" "$file" "$scratch" "$file"
  done > "$scratch/line.curl"
  local ini="${line_base[$way]}/130/client_linux_amd64.ini"
  for round in 1 2 3; do
    rm -rf "$scratch/fetched"
    rm -rf "$scratch/baseline"
    mkdir -p "$scratch/baseline"
    # The same work as the update's, made durable as in (d): checked, copied into place, synced.
    t=$(seconds bash -c "curl -s ${line_curl[$way]} --parallel -o /dev/null '$ini' -o /dev/null '$ini.sig' &&
      curl -s ${line_curl[$way]} --create-dirs --parallel -K '$scratch/line.curl' 2>/dev/null &&
      (cd '$scratch/fetched' && find . -type f -exec md5sum {} + >/dev/null) &&
      cp -r '$scratch/fetched/.' '$scratch/baseline/' && sync")
    theirs=$(awk -v a="$theirs" -v b="$t" 'BEGIN { print (b < a ? b : a) }')
    rm -rf "$scratch/install"
    mkdir -p "$scratch/install"
    printf '[update]\nstreams=6\n' > "$scratch/install/update.ini"
    printf '[mirrors]\nsize=1\n1\\mirror=far\n[far]\nurl=%s\n' "${line_base[$way]}" > "$scratch/install/mirrors.ini"
    logged=$(wc -l < "$scratch/relay.log")
    result=$(TMPDIR="$scratch/tmp" "$bench" update "$scratch/install" 130)
    diff -rq -x update.ini -x mirrors.ini "$scratch/treeG" "$scratch/install" >/dev/null
    seconds_ours=$(echo "$result" | sed -n 's/.* in \([0-9.]*\) s.*/\1/p')
    if awk -v a="$seconds_ours" -v b="$ours" 'BEGIN { exit !(a < b) }'; then
      ours=$seconds_ours
      report=$result
      connections=$(connections_since "$logged")
    fi
  done
  rm -rf "$scratch/fetched" "$scratch/install" "$scratch/baseline"
  local first bytes_time label target
  first=$(echo "$report" | sed -n 's/.*first file requested after \([0-9.]*\) s.*/\1/p')
  bytes_time=$(awk -v b="$line_bytes" -v r="$line_mbit" 'BEGIN { printf "%.3f", b * 8 / (r * 1e6) }')
  label=$([ "$way" = http ] && echo "plain HTTP" || echo "HTTPS, HTTP/2")
  echo "== (g) $label, $line_mbit Mbit/s, $rtt ms round trip: 400 files of 2-128 KiB, $line_bytes bytes"
  echo "the bytes alone:   $bytes_time s"
  echo "curl (the ini and its signature, then the files) + md5sum + cp + sync, ${line_curl_label[$way]}:" \
    "${theirs} s (best of 3)"
  echo "ours (a whole update of a fresh installation): $report (best of 3)"
  echo "first file requested after $(awk -v f="$first" -v r="$rtt" 'BEGIN { printf "%.1f", f * 1000 / r }')" \
    "round trips; at most $connections connections open at once"
  if [ "$rtt" -le 60 ]; then
    target=1.10
  elif [ "$way" = https2 ]; then
    target=1.30
  fi
  [ -n "${target:-}" ] && echo "time ours / the bytes alone: $(ratio "$ours" "$bytes_time") (target <= $target)" \
    || echo "time ours / the bytes alone: $(ratio "$ours" "$bytes_time")"
  if [ "$way" = http ]; then
    echo "time ours / curl: $(ratio "$ours" "$theirs") (target <= 1.00)"
  else
    echo "time ours / curl: $(ratio "$ours" "$theirs")"
  fi
}

want g && {
mkdir -p "$scratch/treeG/data" "$scratch/tmp"
line_bytes=0
n=0
# Sizes drawn with a fixed seed, so that every run has the same release.
for size in $(awk 'BEGIN { srand(130); for (i = 1; i <= 400; i++) print int(2048 + rand() * (131072 - 2048)) }'); do
  line_bytes=$((line_bytes + size))
  n=$((n + 1))
  head -c "$size" /dev/urandom > "$scratch/treeG/data/f$n.bin"
done
"$release" --version 130 --key "$key" "$scratch/treeG" "$scratch/www" >/dev/null
trap 'stop_relay; cleanup' EXIT
for rtt in 150 60; do
  start_relay "$rtt"
  long_line_row "$rtt" http
  long_line_row "$rtt" https2
done
stop_relay
}
