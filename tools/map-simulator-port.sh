#!/usr/bin/env bash
# Rewrites sections "Serial_Ports" and "Scale" of a Setting.ini so that COM1
# is the given device, no other number is mapped and the scale speaks the
# given protocol (frames when none is given); every other section is kept.
set -euo pipefail
setting=$1
device=$2
protocol=${3:-frames}
touch "$setting"
awk -v device="$device" -v protocol="$protocol" '
  BEGIN { skip = 0 }
  /^[ \t]*\[/ { skip = (tolower($0) ~ /^[ \t]*\[(serial_ports|scale)\]/) }
  !skip { print }
  END {
    printf "[Serial_Ports]\r\nDefaults=off\r\nCOM1=%s\r\n", device
    printf "[Scale]\r\nProtocol=%s\r\n", protocol
  }
' "$setting" > "$setting.new"
mv "$setting.new" "$setting"
