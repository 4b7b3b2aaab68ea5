#!/usr/bin/env bash
# scriptcgi-site: lays out a site directory for a scriptcgi application and writes its lighttpd
# and Apache configurations.
#
#   scriptcgi-site [options] SITE
#     --app DIR       the application: DIR/modules/, DIR/htdocs/ (pages) and DIR/ZOLK.config.in
#                     (@SITE@ in it becomes the site directory); default: the sample shop
#     --port N        port of the web server (8080)      --bind ADDR   address (127.0.0.1)
#     --allow CIDR    the network allowed to reach the engine (127.0.0.0/8)
#     --cpu S         CPU seconds of one request (10)    --memory MB   its memory (512; 0: none)
#     --timeout S     seconds a request may stay silent (30)
#     --user NAME     the server's user when it starts as root (www-data)
#     --engine PATH   the engine program     --limits PATH   scriptcgi-limits
#     --client PATH   the client library scriptcgi.js
#     --env NAME=VAL  an environment variable for the engine (repeatable)
#
# The site: htdocs/ (pages and scriptcgi.js, the document root), cgi-bin/ (the engine and its
# ZOLK.config), bin/ (the limits launcher), modules/, var/ (journal and data, kept when the site
# is made again), run/ (logs, sockets), and lighttpd.conf, apache.conf (stand-alone) and
# apache-site.conf (to include).
set -euo pipefail
here=$(cd "$(dirname "$(readlink -f "$0")")" && pwd)
# Templates and programs: beside this script in the source tree, or where cmake --install put them.
if [ -f "$here/lighttpd/scriptcgi.conf.in" ]; then
  templates=$here root=$(cd "$here/.." && pwd)
  engine=$root/build/release/scriptcgi limits=$root/build/release/scriptcgi-limits
  client=$root/client/scriptcgi.js app=$root/examples/shop
else
  share=$(cd "$here/../share/scriptcgi" && pwd)
  templates=$share/deploy
  engine=$here/../lib/scriptcgi/scriptcgi limits=$here/../lib/scriptcgi/scriptcgi-limits
  client=$share/client/scriptcgi.js app=$share/examples/shop
fi
port=8080 bind=127.0.0.1 allow=127.0.0.0/8 cpu=10 memory=512 timeout=30 user=www-data
envs=()
while [ $# -gt 1 ]; do
  case "$1" in
    --app) app=$2 ;; --port) port=$2 ;; --bind) bind=$2 ;; --allow) allow=$2 ;;
    --cpu) cpu=$2 ;; --memory) memory=$2 ;; --timeout) timeout=$2 ;; --user) user=$2 ;;
    --engine) engine=$2 ;; --limits) limits=$2 ;; --client) client=$2 ;; --env) envs+=("$2") ;;
    *) echo "scriptcgi-site: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
[ $# -eq 1 ] || { sed -n '4,19p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
for f in "$engine" "$limits" "$client" "$app/ZOLK.config.in"; do
  [ -e "$f" ] || { echo "scriptcgi-site: $f is missing" >&2; exit 1; }
done
mkdir -p "$1"
site=$(cd "$1" && pwd)
mkdir -p "$site"/{htdocs,cgi-bin,bin,modules,var,run}
chmod 755 "$site" "$site"/{htdocs,cgi-bin,bin,modules,run}
rm -rf "$site/htdocs/"* "$site/modules/"*
[ -d "$app/htdocs" ] && cp -r "$app/htdocs/." "$site/htdocs/"
cp "$client" "$site/htdocs/scriptcgi.js"
cp -r "$app/modules/." "$site/modules/"
install -m 755 "$engine" "$site/cgi-bin/scriptcgi"
install -m 755 "$limits" "$site/bin/scriptcgi-limits"
sed "s|@SITE@|$site|g" "$app/ZOLK.config.in" > "$site/cgi-bin/ZOLK.config"
chmod -R a+rX "$site/htdocs" "$site/modules" "$site/cgi-bin"
userline=""
if [ "$(id -u)" = 0 ]; then
  # The server drops root; the engine writes its journal and data in var/ as that user.
  chown "$user" "$site/var" "$site/run"
  [ -n "$(ls -A "$site/var")" ] && chown -R "$user" "$site/var"/*
  group=$(id -gn "$user")
  userline="server.username = \"$user\"
server.groupname = \"$group\""
  apacheuser="User $user
Group $group"
fi
chmod 755 "$site/var"
# The server drops root: every directory above the site must let its user through.
if [ "$(id -u)" = 0 ] && ! runuser -u "$user" -- test -x "$site/cgi-bin/scriptcgi" -a -r "$site/htdocs/scriptcgi.js"; then
  echo "scriptcgi-site: the server's user $user cannot reach $site (a directory above it is closed)" >&2
  exit 3
fi
lenv="" aenv=""
for e in "${envs[@]+"${envs[@]}"}"; do
  lenv+=", \"${e%%=*}\" => \"${e#*=}\""
  aenv+="SetEnv ${e%%=*} ${e#*=}"$'\n'
done
membytes=max
[ "$memory" -gt 0 ] && membytes=$((memory * 1048576))
render() {
  local in=$1 out=$2 userl=$3 extra=$4
  awk -v site="$site" -v bind="$bind" -v port="$port" -v allow="$allow" -v cpu="$cpu" \
      -v cpuhard="$((cpu + 1))" -v memory="$memory" -v membytes="$membytes" -v timeout="$timeout" \
      -v limits="$site/bin/scriptcgi-limits" -v userline="$userl" -v extra="$extra" '
    { gsub(/@SITE@/, site); gsub(/@BIND@/, bind); gsub(/@PORT@/, port); gsub(/@ALLOW@/, allow);
      gsub(/@CPUHARD@/, cpuhard); gsub(/@CPU@/, cpu); gsub(/@MEMBYTES@/, membytes);
      gsub(/@MEMORY@/, memory); gsub(/@TIMEOUT@/, timeout); gsub(/@LIMITS@/, limits);
      gsub(/@USERLINE@/, userline); gsub(/@EXTRAENV@/, extra); print }' "$in" > "$out"
}
render "$templates/lighttpd/scriptcgi.conf.in" "$site/lighttpd.conf" "$userline" "$lenv"
render "$templates/apache/scriptcgi-site.conf.in" "$site/apache-site.conf" "" "$aenv"
render "$templates/apache/httpd.conf.in" "$site/apache.conf" "${apacheuser:-}" ""
echo "$site"
