#!/usr/bin/env bash
# Builds the Debian package from the default build, checks it (lintian,
# desktop-file-validate, appstreamcli), installs it into an empty dpkg root
# and then on this machine, runs the installed program as an ordinary user
# under Xvfb, and removes it again, checking that no file is left.
#
#   tools/package-deb.sh [--keep]   (--keep: leave the package installed)
set -euo pipefail
cd "$(dirname "$0")/.."
keep=0
[ "${1:-}" = "--keep" ] && keep=1

bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
rm -f build/tarvex-scale_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/tarvex-scale_*.deb)
echo "== package: $deb ($(stat -c %s "$deb") bytes)"
dpkg-deb -I "$deb" | sed -n '/Depends/p'

echo "== lintian"
lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" | tee build/lintian.txt || true
if grep -q '^E:' build/lintian.txt; then
  echo "package-deb: lintian reports errors" >&2
  exit 1
fi
desktop-file-validate packaging/tarvex-scale.desktop
appstreamcli validate --no-net packaging/io.github.tarvexscale.TarvexScale.metainfo.xml

echo "== into an empty dpkg root"
root=$(mktemp -d)
trap 'rm -rf "$root" "$root.log"' EXIT
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends --force-script-chrootless -i "$deb" >"$root.log" 2>&1 || { cat "$root.log"; exit 1; }
test -x "$root/usr/bin/tarvex-scale"
test -f "$root/usr/share/tarvex-scale/Language/English.ini"
dpkg --root="$root" --force-depends --force-script-chrootless -P tarvex-scale >/dev/null
left=$(find "$root" -path "$root/var" -prune -o -type f -print | wc -l)
[ "$left" -eq 0 ] || { echo "package-deb: files left in the dpkg root" >&2; exit 1; }

echo "== installed on this machine"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >/dev/null
files=$(dpkg -L tarvex-scale)
shots=$(mktemp -d /tmp/tarvex-installed-shots.XXXXXX) && chmod 1777 "$shots"
work=$(mktemp -d /tmp/tarvex-installed-cwd.XXXXXX) && chmod 1777 "$work"
# From another working directory, as an ordinary user.
(cd "$work" && bash "$OLDPWD/tools/as-unprivileged.sh" /usr/bin/python3 "$OLDPWD/tests/e2e/test_installed.py" \
  /usr/bin/tarvex-scale "$shots")
echo "screenshots: $shots"
if [ "$keep" -eq 1 ]; then
  exit 0
fi

echo "== removed"
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq tarvex-scale >/dev/null
leftover=0
while IFS= read -r path; do
  if [ -f "$path" ] || [ -L "$path" ]; then
    echo "left behind: $path" >&2
    leftover=1
  fi
done <<< "$files"
[ "$leftover" -eq 0 ] || exit 1
echo "package installed, run, and removed without a trace"
