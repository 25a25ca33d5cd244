#!/usr/bin/env bash
# A throwaway PostgreSQL server for tests and benchmarks: initdb into a
# temporary folder as an unprivileged user, listening on a free port on
# 127.0.0.1 only, stopped and removed by `stop`. It never touches a cluster
# of the system (Debian's postgresql package may have started one).
#
#   tools/pg_server.sh start STATE [--durable]   initdb and start; exit 77 (skip) when
#                                                the packages are missing and cannot be
#                                                installed
#   tools/pg_server.sh stop STATE                stop the server and remove its folder
#   tools/pg_server.sh url STATE                 print the ODBC connection string
#   tools/pg_server.sh down STATE                stop the server, keeping its data
#   tools/pg_server.sh up STATE                  start it again on the same port
#
# STATE is a folder of the caller (the build folder's pg_fixture for CTest)
# where the running server is described:
#   STATE/connection  the ODBC connection string of the superuser "orn", with
#                     its password, to the database "postgres" (mode 600)
#   STATE/port        the port on 127.0.0.1
#   STATE/home        the temporary folder (data, socket, log)
#   STATE/skipped     instead of the above when the server could not be
#                     started for want of packages: the reason
# Without --durable the server trades durability for speed (fsync off).
set -euo pipefail

command=${1:-}
state=${2:-}
if [ -z "$command" ] || [ -z "$state" ]; then
  echo "usage: $0 start|stop|url|down|up STATE [--durable]" >&2
  exit 2
fi
durable=0
[ "${3:-}" = "--durable" ] && durable=1
here=$(cd "$(dirname "$0")" && pwd)

pg_bin() { ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1; }

# The packages a server and its ODBC drivers need; installed when root.
ensure_packages() {
  local bin
  bin=$(pg_bin)
  if [ -n "$bin" ] && [ -x "$bin/initdb" ] && grep -qs '^\[PostgreSQL Unicode\]' /etc/odbcinst.ini; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    local why="PostgreSQL or its ODBC driver is not installed (Debian packages postgresql odbc-postgresql) and this user cannot install them"
    mkdir -p "$state"
    echo "$why" > "$state/skipped"
    echo "SKIPPED: $why"
    exit 77
  fi
  "$here/ensure_packages.sh" postgresql odbc-postgresql odbcinst
}

# Runs a command as the server's user: postgres when we are root.
as_server_user() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

free_port() {
  local port
  for _ in $(seq 1 50); do
    port=$((20000 + RANDOM % 40000))
    if ! ss -Hltn 2>/dev/null | awk '{print $4}' | grep -q ":$port\$"; then
      echo "$port"
      return 0
    fi
  done
  echo 0
}

start_server() {
  local home=$1 port=$2
  as_server_user "$(pg_bin)/pg_ctl" -D "$home/data" -l "$home/server.log" -w -t 60 \
    -o "-p $port" start > /dev/null
}

stop_server() {
  local home=$1
  [ -f "$home/data/postmaster.pid" ] || return 0
  as_server_user "$(pg_bin)/pg_ctl" -D "$home/data" -m fast -w -t 60 stop > /dev/null || true
}

case "$command" in
  start)
    [ -f "$state/home" ] && "$0" stop "$state"
    rm -f "$state/skipped"
    ensure_packages
    mkdir -p "$state"
    home=$(mktemp -d --tmpdir=/tmp --suffix=.orn-pg)
    chmod 700 "$home"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$home"
    password="t$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
    printf '%s\n' "$password" > "$home/password"
    [ "$(id -u)" -eq 0 ] && chown postgres: "$home/password"
    as_server_user "$(pg_bin)/initdb" -D "$home/data" -U orn --pwfile="$home/password" \
      -A scram-sha-256 -E UTF8 --locale=C -N > "$home/initdb.log" 2>&1 || {
        cat "$home/initdb.log" >&2
        rm -rf "$home"
        exit 1
      }
    rm -f "$home/password"
    {
      echo "listen_addresses = '127.0.0.1'"
      echo "unix_socket_directories = '$home'"
      echo "max_connections = 200"
      if [ "$durable" -eq 0 ]; then
        echo "fsync = off"
        echo "synchronous_commit = off"
        echo "full_page_writes = off"
      fi
    } | as_server_user tee -a "$home/data/postgresql.conf" > /dev/null
    # Another process may take the port between the look and the start: try
    # a few.
    started=0
    for _ in 1 2 3 4 5; do
      port=$(free_port)
      [ "$port" -ne 0 ] || break
      if start_server "$home" "$port"; then
        started=1
        break
      fi
    done
    if [ "$started" -ne 1 ]; then
      echo "PostgreSQL did not start:" >&2
      tail -20 "$home/server.log" >&2 || true
      rm -rf "$home"
      exit 1
    fi
    echo "$home" > "$state/home"
    echo "$port" > "$state/port"
    (umask 077 && printf 'Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=%s;Database=postgres;Uid=orn;Pwd=%s;\n' \
      "$port" "$password" > "$state/connection")
    echo "PostgreSQL on 127.0.0.1:$port, data in $home"
    ;;
  stop)
    if [ -f "$state/home" ]; then
      home=$(cat "$state/home")
      stop_server "$home"
      rm -rf "$home"
    fi
    rm -f "$state/home" "$state/port" "$state/connection" "$state/skipped"
    ;;
  url)
    cat "$state/connection"
    ;;
  down)
    stop_server "$(cat "$state/home")"
    ;;
  up)
    start_server "$(cat "$state/home")" "$(cat "$state/port")"
    ;;
  *)
    echo "unknown command $command" >&2
    exit 2
    ;;
esac
