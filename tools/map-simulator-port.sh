#!/usr/bin/env bash
# Rewrites section "Serial_Ports" of a Setting.ini so that COM1 is the given
# device and no other number is mapped; every other section is kept.
set -euo pipefail
setting=$1
device=$2
touch "$setting"
awk -v device="$device" '
  BEGIN { skip = 0 }
  /^[ \t]*\[/ { skip = (tolower($0) ~ /^[ \t]*\[serial_ports\]/) }
  !skip { print }
  END { printf "[Serial_Ports]\r\nDefaults=off\r\nCOM1=%s\r\n", device }
' "$setting" > "$setting.new"
mv "$setting.new" "$setting"
