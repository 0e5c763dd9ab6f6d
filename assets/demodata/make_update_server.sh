#!/usr/bin/env bash
# Lays out the demo's update server in APP/.update-server: product lines with
# real .tar.gz packages under monitor/<line>/V17/, an nginx configuration that
# lists them (autoindex) on 127.0.0.1:10440, and points the download's install
# folder at APP/bin-ZEV so a demo download stays inside the application folder.
#   make_update_server.sh APP    prints the nginx configuration path
set -euo pipefail
app="$(cd "${1:?usage: make_update_server.sh APP}" && pwd)"
server="$app/.update-server"
www="$server/www/monitor"
mkdir -p "$server/tmp" "$app/bin-ZEV"

package() {  # package LINE NAME: a small real archive
  local dir="$www/$1/V17" work
  mkdir -p "$dir"
  work="$(mktemp -d)"
  echo "$2" > "$work/VERSION"
  tar -czf "$dir/$2" -C "$work" VERSION
  rm -rf "$work"
}
for i in $(seq 1 9); do package press-line "V17_18.0.$i.tar.gz"; done
package robot-cell V17_18.1.0.tar.gz
mkdir -p "$www/spare"

cat > "$server/nginx.conf" <<CONF
daemon off;
master_process off;
worker_processes 1;
pid $server/tmp/nginx.pid;
error_log $server/tmp/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $server/tmp/body; proxy_temp_path $server/tmp/proxy; fastcgi_temp_path $server/tmp/fastcgi;
  uwsgi_temp_path $server/tmp/uwsgi; scgi_temp_path $server/tmp/scgi;
  server {
    listen 127.0.0.1:10440;
    root $server/www;
    location / { autoindex on; }
  }
}
CONF

python3 - "$app/cnt_net/config.json" "$app/bin-ZEV" <<'PY'
import json, os, sys
path, root = sys.argv[1], sys.argv[2]
config = json.load(open(path)) if os.path.exists(path) else {}
config["update_root"] = root
json.dump(config, open(path, "w"), indent=2)
PY
echo "$server/nginx.conf"
