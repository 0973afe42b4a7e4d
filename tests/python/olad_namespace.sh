#!/usr/bin/env bash
# Runs COMMAND beside a real DMX receiver and records what the receiver got.
#
#   unshare -n bash olad_namespace.sh OUT -- COMMAND...
#
# Meant to run in a fresh network namespace (unshare -n), so that nothing
# sent leaves it. Inside, a veth pair carries the private address 10.77.0.1,
# where the Open Lighting Architecture daemon listens (it binds to no
# loopback address and refuses to run as root, so it runs as nobody).
# Its E1.31 input ports 0 and 1 are patched to OLA universes 1 and 2, its
# Art-Net input ports 0 and 1 to OLA universes 3 and 4, which hear Art-Net
# port-addresses 3 and 4. ola_recorder writes every frame of the four
# universes to OUT/show.txt while COMMAND runs; olad's log is OUT/olad.log.
# Exits 77 when the namespace cannot hold a veth pair, else COMMAND's status.
set -euo pipefail
out=$1
shift 2

if ! ip link add v0 type veth peer name v1 2>"$out/ip.err"; then
  echo "cannot make a veth pair in a network namespace: $(cat "$out/ip.err")" >&2
  exit 77
fi
ip addr add 10.77.0.1/24 dev v0
ip link set v1 up
ip link set v0 up
ip link set lo up

config="$out/olad"
mkdir -p "$config"
cat > "$config/ola-e131.conf" <<CONF
cid = 11111111-2222-3333-4444-555555555555
enabled = true
ip = 10.77.0.1
input_ports = 2
output_ports = 0
ignore_preview = true
draft_discovery = false
prepend_hostname = false
revision = 0.46
dscp = 0
CONF
# use_loopback: the sender sits in the same namespace, at olad's own address.
cat > "$config/ola-artnet.conf" <<CONF
enabled = true
ip = 10.77.0.1
net = 0
subnet = 0
output_ports = 0
use_loopback = true
always_broadcast = false
use_limited_broadcast = false
long_name = movimo test
short_name = movimo
CONF
for plugin in dummy espnet gpio karate kinet milinst opendmx openpixelcontrol osc pathport \
              renard sandnet shownet spi stageprofi usbdmx usbserial uartdmx dmx4linux \
              ftdidmx nanoleaf; do
  echo "enabled = false" > "$config/ola-$plugin.conf"
done
chown -R 65534:65534 "$config"

setpriv --reuid=65534 --regid=65534 --clear-groups \
  olad -c "$config" -l 3 --no-register-with-dns-sd >"$out/olad.log" 2>&1 &
olad=$!
recorder=
stop() {
  [ -n "$recorder" ] && kill "$recorder" 2>/dev/null
  kill "$olad" 2>/dev/null
  wait 2>/dev/null || true
}
trap stop EXIT

device() {  # the number of the first device whose name holds $1
  # Read the whole listing first: a reader that stops early would kill
  # ola_dev_info with SIGPIPE, which pipefail turns into a failure.
  local devices
  devices=$(ola_dev_info 2>/dev/null) || return 0
  sed -nE "/$1/{s/^Device ([0-9]+):.*/\1/p;q}" <<<"$devices"
}
for _ in $(seq 100); do
  [ -n "$(device 'E1.31')" ] && [ -n "$(device 'ArtNet')" ] && break
  sleep 0.1
done
e131=$(device 'E1.31')
artnet=$(device 'ArtNet')
if [ -z "$e131" ] || [ -z "$artnet" ]; then
  echo "olad did not start its E1.31 and Art-Net devices; its log:" >&2
  cat "$out/olad.log" >&2
  exit 1
fi
ola_patch -d "$e131" -p 0 -u 1 -i
ola_patch -d "$e131" -p 1 -u 2 -i
ola_patch -d "$artnet" -p 0 -u 3 -i
ola_patch -d "$artnet" -p 1 -u 4 -i

ola_recorder -r "$out/show.txt" -u 1,2,3,4 >"$out/recorder.log" 2>&1 &
recorder=$!
sleep 0.5   # the recorder registers with olad before anything is sent
status=0
"$@" || status=$?
sleep 0.5   # the last frames reach the recorder
kill -INT "$recorder"
wait "$recorder" || true
recorder=
exit $status
