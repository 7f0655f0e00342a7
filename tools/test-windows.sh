#!/usr/bin/env bash
# Tests the cross-built Windows program under Wine: the unit tests, an
# export to a Unicode path read back by openpyxl, the serial functions on a
# COM port mapped to a pseudo-terminal, and the program itself under Xvfb
# (its window comes up with its texts and closes with exit code 0), and the
# installer: silent installs for all users and for the current user, the
# installed program's window, and the uninstaller.
#
# Wine maps COM1 to the host's /dev/ttyS0 by itself. Everything here runs as
# an unprivileged user that may not open any real serial device, with a
# WINEPREFIX of its own; the script refuses to run otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
# Wine's server dumps its objects when its prefix goes away under it: keep
# those lines out of the log.
exec > >(grep --line-buffered -vE '^ *(0x)?[0-9a-f]+:( 0x[0-9a-f]+)?[0-9a-f: ]' ) 2>&1
root=$PWD
bin=$root/build-windows/bin
[ -x "$bin/tarvex-scale.exe" ] || { echo "build it first: tools/build-windows.sh" >&2; exit 1; }

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
for p in wine wine64 xvfb xdotool imagemagick; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    $SUDO apt-get update -qq
    $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine wine64 xvfb xdotool imagemagick
    break
  fi
done

# A copy the unprivileged user can read, in a folder of its own.
work=$(mktemp -d /tmp/tarvex-wine.XXXXXX)
# Wine's server is ended before its prefix goes, or it complains at length.
trap 'as_user wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
cp -r "$bin" "$work/bin"
chmod -R a+rwX "$work"
shots=$root/build-windows/wine-shots
mkdir -p "$shots" && chmod a+rwx "$shots"

as_user() { bash "$root/tools/as-unprivileged.sh" env WINEPREFIX="$work/wine/prefix" WINEDEBUG=-all "$@"; }

# Wine keeps its prefix only in a folder its user owns.
mkdir -p "$work/wine"
[ "$(id -u)" -eq 0 ] && as_user true && chown tarvex-test "$work/wine"

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
  [ -e "$dev" ] || continue
  if as_user test -r "$dev" -o -w "$dev"; then
    echo "test-windows: this user could open $dev, which Wine would map to a COM port; refusing" >&2
    exit 1
  fi
done

echo "== unit tests under Wine"
as_user wine "$work/bin/tarvex-unit-tests.exe" --gtest_brief=1

echo "== export to a Unicode path under Wine"
mkdir -p "$work/wine/中文目录"
[ "$(id -u)" -eq 0 ] && chown tarvex-test "$work/wine/中文目录"
target=$(as_user winepath -w "$work/wine/中文目录/称重数据.xlsx")
as_user wine "$work/bin/tarvex-export-sample.exe" "$target"
/usr/bin/python3 "$root/tests/integration/check_workbook.py" "$work/wine/中文目录/称重数据.xlsx" \
  "$root/tests/e2e/export_sample.json"
echo "read back: $work/wine/中文目录/称重数据.xlsx"

echo "== serial functions under Wine on a pseudo-terminal"
as_user /usr/bin/python3 "$root/tests/e2e/wine_serial.py" "$work/bin"

echo "== the program under Wine"
# From a folder with a Chinese name: "Setting.ini" and the language files
# must still be found beside the program for the window to get its title.
cp -r "$work/bin" "$work/wine/程序目录"
chmod -R a+rwX "$work/wine/程序目录"
as_user /usr/bin/python3 "$root/tests/e2e/wine_smoke.py" "$work/wine/程序目录" "$shots"

# The program keeps its journal in the user's local application data.
journal=$(find "$work/wine/prefix/drive_c/users" -path "*/AppData/Local/Tarvex Scale/journal.txt" 2>/dev/null | head -n 1)
if [ -z "$journal" ]; then
  echo "test-windows: no journal in the Wine user's AppData\\Local\\Tarvex Scale" >&2
  exit 1
fi
echo "journal under Wine: $journal"

echo "== the installer under Wine"
setup=$(ls "$root"/build-windows/tarvex-scale-*-setup.exe | head -n 1)
cp "$setup" "$work/setup.exe" && chmod a+rx "$work/setup.exe"
gone() {  # waits until the folder is gone: the uninstaller finishes from a copy of itself
  for _ in $(seq 1 60); do [ -e "$1" ] || return 0; sleep 1; done
  echo "test-windows: $1 is still there after the uninstaller" >&2
  return 1
}
for mode in AllUsers CurrentUser; do
  as_user wine "$work/setup.exe" /S /$mode
  installed=$(find "$work/wine/prefix/drive_c" -path "*/Tarvex Scale/tarvex-scale.exe" -printf '%h\n' 2>/dev/null | head -n 1)
  [ -n "$installed" ] || { echo "test-windows: the $mode install put no tarvex-scale.exe anywhere" >&2; exit 1; }
  echo "installed ($mode): ${installed#"$work/wine/prefix/"}"
  test -f "$installed/Language/English.ini" && test -f "$installed/Setting.ini"
  test -f "$installed/THIRD-PARTY-NOTICES.txt"
  find "$work/wine/prefix/drive_c" -name "Tarvex Scale.lnk" | grep -q . || { echo "test-windows: no Start-menu entry" >&2; exit 1; }
  mkdir -p "$shots/installed-$mode" && chmod a+rwx "$shots/installed-$mode"
  # The installer ran without a display: its Wine server (and desktop) must
  # be gone before a program with windows starts.
  as_user wineserver -w
  as_user /usr/bin/python3 "$root/tests/e2e/wine_smoke.py" "$installed" "$shots/installed-$mode"
  as_user wine "$installed/uninstall.exe" /S /$mode
  gone "$installed"
  if find "$work/wine/prefix/drive_c" -name "Tarvex Scale.lnk" | grep -q .; then
    echo "test-windows: the Start-menu entry is still there" >&2
    exit 1
  fi
  echo "uninstalled ($mode)"
done
