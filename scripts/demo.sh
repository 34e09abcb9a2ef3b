#!/usr/bin/env bash
# The main job: builds the updater, lays out a demo installation, starts the stand-in
# update server on loopback and runs the updater against it. Arguments after the
# script are passed to the updater (none: it asks the server for the latest version).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${BUILD_DIR:-$(dirname "$here")/build}

bash "$here/build.sh"

install_dir=$(mktemp -d /tmp/voxmere-demo.XXXXXX)
server_log="$install_dir/server.log"
cleanup() {
  [ -n "${server_pid:-}" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$install_dir"
}
trap cleanup EXIT

cp "$build/update/update" "$install_dir/"
cat > "$install_dir/update.ini" <<'INI'
[update]
streams=4
INI

"$build/tools/updateserver/vx5-update-server" \
  --channels "1200#3.0.0,1210#3.1.0-beta,1215#3.2.0-alpha" \
  --news "Voxmere 3.0 is out: <a href=\"https://voxmere.example/news\">read more</a>" >"$server_log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q listening "$server_log" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^version service listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$server_log")
[ -n "$port" ] || { echo "demo: the stand-in update server did not start" >&2; cat "$server_log" >&2; exit 1; }
echo "stand-in update server on 127.0.0.1:$port"

VX5_UPDATE_SERVER="127.0.0.1:$port" QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$install_dir/update" "$@"
