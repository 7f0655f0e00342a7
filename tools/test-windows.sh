#!/usr/bin/env bash
# Tests the cross-built Windows program under Wine: the unit tests, an
# export to a Unicode path read back by openpyxl, the serial functions on a
# COM port mapped to a pseudo-terminal, and the program itself under Xvfb
# (its window comes up with its texts and closes with exit code 0), every
# message box in both languages on small and large screens, and the
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
# The scale on the Linux side of the COM port is the native simulator.
if [ ! -x "$root/build/bin/tarvex-scale-sim" ]; then
  cmake --preset default >/dev/null && cmake --build --preset default --target tarvex-scale-sim
fi

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

# Every step is bounded: a program that hangs under Wine fails its step
# (and says which) instead of holding the whole run.
STEP_LIMIT=${STEP_LIMIT:-900}
as_user() {
  local rc=0
  timeout --kill-after=20 "$STEP_LIMIT" \
    bash "$root/tools/as-unprivileged.sh" env WINEPREFIX="$work/wine/prefix" WINEDEBUG=-all "$@" || rc=$?
  [ "$rc" -eq 124 ] && echo "test-windows: still running after ${STEP_LIMIT} s, stopped: $*" >&2
  return "$rc"
}

# Wine keeps its prefix only in a folder its user owns.
mkdir -p "$work/wine"
[ "$(id -u)" -eq 0 ] && as_user true && chown tarvex-test "$work/wine"

for dev in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/hidraw*; do
  [ -e "$dev" ] || continue
  if as_user test -r "$dev" -o -w "$dev"; then
    echo "test-windows: this user could open $dev, which Wine would show as a COM port or HID device; refusing" >&2
    exit 1
  fi
done

# Windows links a CJK font to its dialog fonts; a fresh prefix has none, and
# Chinese texts would show as boxes. Link the one the Linux side installs.
echo "== a Wine prefix of this run's own, with a CJK font linked"
fontlink='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
# The faces the program may get: the dialog fonts, Arial (wx's Swiss
# family) and what Wine picks in their place from the system's fonts.
for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "Segoe UI" "Arial" \
            "DejaVu Sans" "Nimbus Sans" "Liberation Sans"; do
  as_user wine reg add "$fontlink" /v "$face" /t REG_MULTI_SZ /d "wqy-microhei.ttc,WenQuanYi Micro Hei" /f >/dev/null
done
# Wine's HID bus shows no device of the host's to the program's USB scale search.
for value in DisableHidraw DisableInput; do
  as_user wine reg add 'HKLM\System\CurrentControlSet\Services\winebus' /v "$value" /t REG_DWORD /d 1 /f >/dev/null
done
# A new prefix goes on setting itself up (wine.inf, services) after the
# first command returns; a program started meanwhile may wait for minutes.
as_user wineserver -w

# A pseudo-terminal that answers the modem-status calls as a real port does:
# Wine's line wait then stays pending as on real hardware.
gcc -shared -fPIC -O2 -o "$work/pty_modem_lines.so" "$root/tests/wine/pty_modem_lines.c" -ldl
chmod a+r "$work/pty_modem_lines.so"

echo "== unit tests under Wine"
as_user wine "$work/bin/tarvex-unit-tests.exe" --gtest_brief=1

echo "== export to a Unicode path under Wine, in both formats"
mkdir -p "$work/wine/中文目录"
[ "$(id -u)" -eq 0 ] && chown tarvex-test "$work/wine/中文目录"
target=$(as_user winepath -w "$work/wine/中文目录/称重数据.xlsx")
as_user wine "$work/bin/tarvex-export-sample.exe" "$target"
/usr/bin/python3 "$root/tests/integration/check_workbook.py" "$work/wine/中文目录/称重数据.xlsx" \
  "$root/tests/e2e/export_sample.json"
echo "read back: $work/wine/中文目录/称重数据.xlsx"
target=$(as_user winepath -w "$work/wine/中文目录/称重数据.xls")
as_user wine "$work/bin/tarvex-export-sample.exe" "$target"
/usr/bin/python3 "$root/tests/integration/check_workbook.py" "$work/wine/中文目录/称重数据.xls" \
  "$root/tests/e2e/export_sample.json"
echo "read back: $work/wine/中文目录/称重数据.xls"

echo "== serial functions under Wine on a pseudo-terminal"
as_user /usr/bin/python3 "$root/tests/wine/wine_serial.py" "$work/bin"
as_user env LD_PRELOAD="$work/pty_modem_lines.so" /usr/bin/python3 "$root/tests/wine/wine_serial.py" "$work/bin"

echo "== the program under Wine"
# From a folder with a Chinese name: "Setting.ini" and the language files
# must still be found beside the program for the window to get its title.
cp -r "$work/bin" "$work/wine/程序目录"
chmod -R a+rwX "$work/wine/程序目录"
as_user /usr/bin/python3 "$root/tests/wine/wine_smoke.py" "$work/wine/程序目录" "$shots"

echo "== every message box under Wine, in both languages on small and large screens"
as_user /usr/bin/python3 "$root/tests/wine/wine_box_gallery.py" "$work/wine/程序目录" "$shots"

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
start_menu_entries() { find "$work/wine/prefix/drive_c" -name "Tarvex Scale.lnk" | wc -l; }
installed_exe() { find "$work/wine/prefix/drive_c" -path "*/Tarvex Scale/tarvex-scale.exe" 2>/dev/null; }
# All users first, then the current user over it: the second replaces the
# first instead of leaving two identical entries.
for mode in AllUsers CurrentUser; do
  as_user wine "$work/setup.exe" /S /$mode
  as_user wineserver -w
  [ "$(installed_exe | wc -l)" -eq 1 ] || { echo "test-windows: after the $mode install: $(installed_exe)" >&2; exit 1; }
  installed=$(dirname "$(installed_exe)")
  echo "installed ($mode): ${installed#"$work/wine/prefix/"}"
  test -f "$installed/Language/English.ini" && test -f "$installed/Setting.ini"
  test -f "$installed/THIRD-PARTY-NOTICES.txt"
  grep -q $'\r$' "$installed/Setting.ini" || { echo "test-windows: Setting.ini without CRLF line ends" >&2; exit 1; }
  [ "$(start_menu_entries)" -eq 1 ] || { echo "test-windows: $(start_menu_entries) Start-menu entries" >&2; exit 1; }
  mkdir -p "$shots/installed-$mode" && chmod a+rwx "$shots/installed-$mode"
  as_user /usr/bin/python3 "$root/tests/wine/wine_smoke.py" "$installed" "$shots/installed-$mode"
  if [ "$mode" = AllUsers ]; then
    echo "== the installed program reads a scale under Wine"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_program.py" "$installed/tarvex-scale.exe" "$shots"
    echo "== the same with a pseudo-terminal that answers the modem-status calls"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_program.py" "$installed/tarvex-scale.exe" "$shots" \
      --modem-lines "$work/pty_modem_lines.so"
    echo "== the installed program's feed under Wine: a Linux client and a CSV file another program holds"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_feed.py" "$installed/tarvex-scale.exe" "$shots" \
      "$work/bin/tarvex-hold-file.exe"
    echo "== the installed program types into another Windows program's text field"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_typing.py" "$installed/tarvex-scale.exe" "$shots" \
      "$work/bin/tarvex-text-field.exe"
    echo "== the installed program reads a scale behind ser2net (RFC 2217) that goes and returns"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_network_port.py" "$installed/tarvex-scale.exe" "$shots"
    echo "== the installed program reads an MT-SICS balance on COM9"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_scales.py" "$installed/tarvex-scale.exe" "$shots"
    echo "== the installed program sends its readings to a PostgreSQL server on loopback"
    as_user /usr/bin/python3 "$root/tests/wine/test_wine_database.py" "$installed/tarvex-scale.exe" "$shots"
  fi
done
as_user wine "$installed/uninstall.exe" /S /CurrentUser
gone "$installed"
if [ "$(start_menu_entries)" -ne 0 ] || [ -n "$(installed_exe)" ]; then
  echo "test-windows: the uninstaller left the program or its Start-menu entry" >&2
  exit 1
fi
echo "uninstalled"
