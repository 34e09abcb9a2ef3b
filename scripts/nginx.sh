# A local nginx for mirrors on a loopback port, for the scripts that need a real web
# server. Source this file, then:
#   start_nginx SCRATCH ROOT PORT [SERVER_DIRECTIVES [MORE_SERVERS]]
# serves ROOT on 127.0.0.1:PORT with its configuration, logs and pid below SCRATCH/nginx
# (MORE_SERVERS: further server blocks, each with its own listen and root),
# sets nginx_pid, and returns once the server answers. stop_nginx ends it.
ensure_nginx() {
  command -v nginx >/dev/null && command -v curl >/dev/null && return 0
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq nginx-light curl >/dev/null
}

start_nginx() {
  local scratch=$1 root=$2 port=$3 extra=${4:-} more=${5:-}
  ensure_nginx
  mkdir -p "$scratch/nginx"
  # The workers run as another user: the files must be readable to them.
  chmod 755 "$scratch"
  cat > "$scratch/nginx/nginx.conf" <<CONF
daemon off;
worker_processes 2;
pid $scratch/nginx/nginx.pid;
error_log $scratch/nginx/error.log;
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  types { image/png png; text/plain txt ini sig; }
  client_body_temp_path $scratch/nginx;
  proxy_temp_path $scratch/nginx;
  fastcgi_temp_path $scratch/nginx;
  uwsgi_temp_path $scratch/nginx;
  scgi_temp_path $scratch/nginx;
  server {
    listen 127.0.0.1:$port;
    root $root;
    $extra
  }
  $more
}
CONF
  nginx -c "$scratch/nginx/nginx.conf" -p "$scratch/nginx" &
  nginx_pid=$!
  for _ in $(seq 50); do curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0; sleep 0.1; done
  echo "nginx did not start on 127.0.0.1:$port:" >&2
  cat "$scratch/nginx/error.log" >&2
  return 1
}

stop_nginx() {
  [ -n "${nginx_pid:-}" ] && kill "$nginx_pid" 2>/dev/null || true
  nginx_pid=
}
