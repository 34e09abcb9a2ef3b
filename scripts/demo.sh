#!/usr/bin/env bash
# The main job: a real update with the window. Builds what it runs (the updater, the Lua
# plug-in, the release tool, the stand-in update server), publishes two client versions
# with the release tool into a folder that a local nginx serves on a loopback port, lays out
# an installation of the older one, starts the stand-in update server (version query and
# banner) and runs the updater from that installation:
#  - with a display, the window waits for "Start Update", shows progress, log, news and
#    banner, and ends with "Start Voxmere";
#  - without one, it runs in automatic mode offscreen and the script prints what was
#    installed.
# Everything it makes, the updater's log included, lives in a scratch folder that is removed
# at the end.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
build=${BUILD_DIR:-$top/build}
port=${DEMO_PORT:-18090}

source "$here/nginx.sh"
bash "$here/install-deps.sh"
ensure_nginx
# Another server on the port would serve the demo's requests instead of its nginx.
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "demo: port $port is in use; run with DEMO_PORT set to a free port" >&2
  exit 1
fi

targets=(update lua_plugin vx5-release vx5-update-server)
echo "Building ${targets[*]} in $build (the first time a few minutes on two cores; the tests are not built)."
[ -f "$build/CMakeCache.txt" ] || cmake -S "$top" -B "$build" -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target "${targets[@]}"

scratch=$(mktemp -d /tmp/voxmere-demo.XXXXXX)
server_pid=
# The user's own updater log, which the demo must leave as it found it.
user_log="${XDG_STATE_HOME:-$HOME/.local/state}/voxmere/update.log"
user_log_before=$(stat -c '%Y %s' "$user_log" 2>/dev/null || echo absent)
cleanup() {
  local status=$?
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  stop_nginx
  rm -rf "$scratch"
  if [ -e "$scratch" ] || [ "$(stat -c '%Y %s' "$user_log" 2>/dev/null || echo absent)" != "$user_log_before" ]; then
    echo "demo: left something behind ($scratch, or a change to $user_log)" >&2
    status=1
  fi
  exit "$status"
}
trap cleanup EXIT

# Two client versions.
client_tree() {
  local dir=$1 version=$2 text=$3
  mkdir -p "$dir/plugins/lua_plugin" "$dir/sounds"
  printf '#!/bin/sh\necho "Voxmere %s client started (demo)" > "$(dirname "$0")/client-started"\n' "$version" \
    > "$dir/vx5client_runscript.sh"
  head -c 300000 /dev/urandom > "$dir/vx5client_linux_amd64"
  head -c 200000 /dev/urandom > "$dir/plugins/libvx5audio.so"
  cp "$build/plugins/lua_plugin.so" "$dir/plugins/lua_plugin.so"
  cp "$top/lua_plugin/vx5events.lua" "$dir/plugins/lua_plugin/vx5events.lua"
  printf '%s\n' "$text" > "$dir/readme.txt"
  cp "$build/update/update" "$dir/update"
  mkdir -p "$dir/translations" && cp "$build/update/translations/"*.qm "$dir/translations/"
}
client_tree "$scratch/releases/1200" 3.0.0 "Voxmere 3.0.0"
head -c 50000 /dev/urandom > "$scratch/releases/1200/sounds/old-ring.wav"
client_tree "$scratch/releases/1210" 3.1.0 "Voxmere 3.1.0: clearer voices, fewer clicks"
mkdir -p "$scratch/releases/1210/sounds/ringtones"
head -c 80000 /dev/urandom > "$scratch/releases/1210/sounds/ringtones/chime.wav"
printf 'Voxmere 3.1.0\n\n- Clearer voices on slow connections\n- New ringtone "chime"\n- The old ring is gone\n' \
  > "$scratch/changelog.txt"

release="$build/tools/release/vx5-release"
key="$top/tools/keys/TEST_AND_DEMO_ONLY_private.key"
# The demo signs with the project's test key (the release tool warns of it), as its
# updater was built with that key's public half.
"$release" --version 1200 --key "$key" --pack '*.so' "$scratch/releases/1200" "$scratch/www" >/dev/null
"$release" --version 1210 --key "$key" --pack '*.so' --pack update --previous "$scratch/releases/1200" \
  --changelog "$scratch/changelog.txt" "$scratch/releases/1210" "$scratch/www" >/dev/null
cp "$top/tools/demo/banner.png" "$scratch/www/banner.png"

start_nginx "$scratch" "$scratch/www" "$port" "limit_rate 2m; # slow enough to watch"

# The installation of the older version.
install_dir="$scratch/Voxmere Client"
cp -a "$scratch/releases/1200" "$install_dir"
chmod 755 "$install_dir/update" "$install_dir/vx5client_runscript.sh"
printf '[update]\nstreams=4\n' > "$install_dir/update.ini"
printf '[mirrors]\nsize=1\n1\\mirror=demo\n[demo]\nurl=http://127.0.0.1:%s/\n' "$port" > "$install_dir/mirrors.ini"

news='<!--URL=http://127.0.0.1:'$port'/1210/changelog_client.txt-->Voxmere 3.1 is out: clearer voices, fewer clicks.'
"$build/tools/updateserver/vx5-update-server" --channels "1210#3.1.0,1210#3.1.0,1210#3.1.0" --news "$news" \
  --banner "http://127.0.0.1:$port/banner.png,http://127.0.0.1:$port/1210/changelog_client.txt" \
  >"$scratch/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q "banner service" "$scratch/server.log" 2>/dev/null && break; sleep 0.1; done
version_port=$(sed -n 's/^version service listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/server.log")
banner_port=$(sed -n 's/^banner service listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$scratch/server.log")
[ -n "$version_port" ] && [ -n "$banner_port" ] || { echo "demo: the stand-in update server did not start" >&2; exit 1; }
export VX5_UPDATE_SERVER="127.0.0.1:$version_port:$banner_port"
export TMPDIR="$scratch"
export XDG_STATE_HOME="$scratch/state" # the updater's log
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$scratch/runtime" # where the single-instance guard listens
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
  echo "Installation of Voxmere 3.0.0 in $install_dir; press \"Start Update\" in the window."
  "$install_dir/update" || status=$?
else
  echo "No display: updating $install_dir to Voxmere 3.1.0 in automatic mode, offscreen."
  QT_QPA_PLATFORM=offscreen "$install_dir/update" --nouser client_linux_amd64 1210 3.1.0 "$news" || status=$?
  for _ in $(seq 50); do [ -f "$install_dir/client-started" ] && break; sleep 0.1; done
  echo "update exited with $status. The installation now holds:"
  (cd "$install_dir" && find . -type f ! -name 'client-started' | sort | while read -r file; do
     printf '  %-40s %s\n' "${file#./}" "$(md5sum < "$file" | cut -c1-32)"; done)
  if diff -rq -x update.ini -x mirrors.ini -x client-started -x _old_update "$scratch/releases/1210" "$install_dir" >/dev/null; then
    echo "It is identical to release 1210 (3.1.0)."
  else
    echo "It differs from release 1210:" && diff -rq -x update.ini -x mirrors.ini "$scratch/releases/1210" "$install_dir" || true
    status=1
  fi
  [ -f "$install_dir/client-started" ] && echo "Client run script: $(cat "$install_dir/client-started")"
fi
echo "The updater's log of the run was $XDG_STATE_HOME/voxmere/update.log; it goes with the scratch folder."
exit "$status"
