#!/usr/bin/env bash
# Network ports on a network that stops answering, between two network
# namespaces of this script's own joined by a veth pair (root only):
#  - the probe of three addresses whose packets go nowhere;
#  - a link through ser2net (RFC 2217) in front of the scale simulator,
#    whose network is then cut: the time until the program gives it up.
#
#   bench/network_silence.sh [BUILD_BIN]      default: build/bin
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$(realpath "${1:-build/bin}")
if [ "$(id -u)" -ne 0 ]; then
  echo "network_silence: needs root for its network namespaces" >&2
  exit 1
fi
desk=tvx-desk-$$
server=tvx-server-$$
work=$(mktemp -d /tmp/tarvex-network-bench.XXXXXX)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  ip netns pids "$server" 2>/dev/null | xargs -r kill -9 2>/dev/null || true
  ip netns del "$desk" 2>/dev/null || true
  ip netns del "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$desk"
ip netns add "$server"
ip link add tvx-d$$ type veth peer name tvx-s$$
ip link set tvx-d$$ netns "$desk"
ip link set tvx-s$$ netns "$server"
ip -n "$desk" addr add 10.77.0.1/24 dev tvx-d$$
ip -n "$server" addr add 10.77.0.2/24 dev tvx-s$$
for ns in "$desk" "$server"; do ip -n "$ns" link set lo up; done
ip -n "$desk" link set tvx-d$$ up
ip -n "$server" link set tvx-s$$ up

# Three hosts on the desk's network that never answer: nobody has them.
ip netns exec "$desk" "$bin/tarvex-bench-network" probe \
  socket://10.77.0.21:4001 rfc2217://10.77.0.22:4001 socket://10.77.0.23:4001

# The scale on a pty, ser2net in front of it on the server's side.
coproc SIM { exec "$bin/tarvex-scale-sim" --rate 5; }
sim_pid=$SIM_PID
read -r line <&"${SIM[0]}"
device=${line#device: }
cat > "$work/ser2net.yaml" <<YAML
%YAML 1.1
---
connection: &scale
  accepter: telnet(rfc2217),tcp,10.77.0.2,4001
  connector: serialdev,$device,9600n81,local
YAML
ip netns exec "$server" ser2net -n -c "$work/ser2net.yaml" -P "$work/ser2net.pid" &
for _ in $(seq 200); do
  ip netns exec "$server" grep -q ":0FA1 .* 0A " /proc/net/tcp && break
  sleep 0.05
done
coproc LINK { exec ip netns exec "$desk" "$bin/tarvex-bench-network" silence rfc2217://10.77.0.2:4001; }
read -r line <&"${LINK[0]}"
[ "$line" = linked ] || { echo "network_silence: not linked: $line" >&2; exit 1; }
sleep 3  # a link in use: frames and their resends going through
# The server's side of the cable goes dead: no packet comes back.
ip -n "$server" link set tvx-s$$ down
echo cut >&"${LINK[1]}"
read -r line <&"${LINK[0]}"
echo "$line"
