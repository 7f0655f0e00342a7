#!/usr/bin/env bash
# A PostgreSQL server of a test's own (Debian's postgresql): a folder of its
# own, a loopback port of its own, run by the unprivileged user (PostgreSQL
# refuses to run as root). Password logins over TCP; over its socket in the
# folder the superuser "postgres" needs none. It has a database "weighing"
# and a login role "desk" with password "desk-pass".
#
#   tools/test-postgres.sh start FOLDER PORT   first start: makes FOLDER (must not exist)
#   tools/test-postgres.sh stop FOLDER [immediate]
#   tools/test-postgres.sh remove FOLDER       stops it (at once) and deletes FOLDER
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
action=$1 folder=$2

as_user() {
  if [ "$(id -u)" -eq 0 ]; then bash "$here/as-unprivileged.sh" "$@"; else "$@"; fi
}

case $action in
  start)
    port=$3
    if [ ! -e "$folder/data/PG_VERSION" ]; then
      mkdir -m 0755 "$folder"
      [ "$(id -u)" -eq 0 ] && { id tarvex-test >/dev/null 2>&1 || as_user /bin/true; chown tarvex-test "$folder"; }
      as_user "$bin/initdb" -D "$folder/data" -U postgres -E UTF8 --locale=C --auth-local=trust \
        --auth-host=scram-sha-256 --no-sync >"$folder/initdb.log" 2>&1 || { cat "$folder/initdb.log" >&2; exit 1; }
      fresh=1
    fi
    as_user "$bin/pg_ctl" -D "$folder/data" -l "$folder/server.log" -w -t 60 \
      -o "-p $port -k $folder -c listen_addresses=127.0.0.1" start >/dev/null \
      || { tail -n 20 "$folder/server.log" >&2; exit 1; }
    if [ -n "${fresh:-}" ]; then
      as_user "$bin/psql" -h "$folder" -p "$port" -U postgres -d postgres -qAt -v ON_ERROR_STOP=1 \
        -c "CREATE ROLE desk LOGIN PASSWORD 'desk-pass'" -c "CREATE DATABASE weighing OWNER desk" >/dev/null
    fi
    ;;
  stop)
    as_user "$bin/pg_ctl" -D "$folder/data" -w -t 60 -m "${3:-fast}" stop >/dev/null
    ;;
  remove)
    [ -e "$folder/data/postmaster.pid" ] && as_user "$bin/pg_ctl" -D "$folder/data" -w -t 60 -m immediate stop >/dev/null 2>&1 || true
    rm -rf "$folder"
    ;;
  *) echo "usage: $0 start|stop|remove FOLDER [PORT|immediate]" >&2; exit 2 ;;
esac
