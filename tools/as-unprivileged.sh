#!/usr/bin/env bash
# Runs a command as the unprivileged user "tarvex-test" (made on first use):
# root ignores TIOCEXCL and file modes, so tests as root can pass where a
# clerk's account fails. Refuses to run if that user could open a real
# serial device: tests only ever use pseudo-terminals.
#
#   tools/as-unprivileged.sh COMMAND [ARG...]
set -euo pipefail
user=tarvex-test

if [ "$(id -u)" -ne 0 ]; then
  # Already an ordinary user: nothing to change.
  exec "$@"
fi

if ! id "$user" >/dev/null 2>&1; then
  useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
fi

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$dev" ] || continue
  if runuser -u "$user" -- test -r "$dev" -o -w "$dev"; then
    echo "as-unprivileged: $user could open $dev; refusing to run tests that way" >&2
    exit 1
  fi
done

# Every folder on the way to the command must be open to that user.
program=$(command -v "$1") || { echo "as-unprivileged: no such command: $1" >&2; exit 1; }
if ! runuser -u "$user" -- test -x "$program"; then
  echo "as-unprivileged: $user cannot run $1 (check the folder permissions)" >&2
  exit 1
fi

home=$(mktemp -d /tmp/tarvex-test-home.XXXXXX)
chown "$user" "$home"
trap 'rm -rf "$home"' EXIT
runuser -u "$user" -- env HOME="$home" XDG_RUNTIME_DIR="$home" TMPDIR=/tmp "$@"
