#!/usr/bin/env bash
# DHCP as a client sees it, live: a DHCP server (dnsmasq) in a network
# namespace of this test's own, a veth pair to a client namespace, and
# dhclient or dhcpcd there. hostprobe --pass 1 in the client namespace shows
# the adapter DHCP-enabled with the server and the WINS servers of option 44
# (sent whether asked for or not);
# after the server has gone and the lease has run out (2 min, dnsmasq's
# shortest), the client still retries: DHCP-enabled, server 255.255.255.255,
# address 0.0.0.0. No DHCP server ever runs on a link outside these
# namespaces; the lease files live on tmpfs in a private mount namespace.
# Usage: tests/dhcp_live_test.sh HOSTPROBE dhclient|dhcpcd [--expire]
#        (exit 77: skipped; without --expire the 2-minute wait is left out)
set -u
exe=$(realpath "${1:?usage: dhcp_live_test.sh HOSTPROBE dhclient|dhcpcd [--expire]}")
client=${2:?usage: dhcp_live_test.sh HOSTPROBE dhclient|dhcpcd [--expire]}
expire=${3:-}
export PATH=$PATH:/sbin:/usr/sbin

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

for tool in ip dnsmasq "$client" unshare; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
[ "$(id -u)" -eq 0 ] || skip "network namespaces need root"
if [ -z "${DHCP_LIVE_TEST_NS:-}" ]; then
  unshare -m --propagation private true 2>/dev/null || skip "no right to make a private mount namespace"
  DHCP_LIVE_TEST_NS=1 exec unshare -m --propagation private "$0" "$@"
fi

tag=hp$$
srv=${tag}s cli=${tag}c
work=$(mktemp -d)
dns_pid='' client_pid=''
finish() {
  for pid in $client_pid $dns_pid; do kill "$pid" 2>/dev/null; done
  sleep 0.3
  for pid in $client_pid $dns_pid; do kill -9 "$pid" 2>/dev/null; done
  ip netns del "$srv" 2>/dev/null
  ip netns del "$cli" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

ip netns add "$srv" 2>/dev/null || skip "cannot make a network namespace"
ip netns add "$cli" || fail "cannot make the client namespace"
ip link add v0 netns "$srv" type veth peer name v1 netns "$cli" || skip "cannot make a veth pair"
ip -n "$srv" address add 10.77.0.1/24 dev v0
ip -n "$srv" link set v0 up
ip -n "$cli" link set v1 up
# The clients' lease directories, private to this test.
for d in /var/lib/dhcp /var/lib/dhcpcd /run/dhcpcd; do mkdir -p "$d" && mount -t tmpfs hp "$d" || fail "cannot mount tmpfs on $d"; done

ip netns exec "$srv" dnsmasq --no-daemon --conf-file=/dev/null --port=0 --interface=v0 --bind-interfaces \
  --dhcp-range=10.77.0.50,10.77.0.60,2m --dhcp-option-force=44,10.77.0.9,10.77.0.10 --dhcp-leasefile="$work/dnsmasq.leases" \
  >"$work/dnsmasq.log" 2>&1 &
dns_pid=$!
sleep 0.5
# dhclient configures the link through its script: this one only sets and
# drops the address (the machine's resolv.conf is never touched).
cat >"$work/dhclient-script" <<'SCRIPT'
#!/bin/sh
case $reason in
  BOUND|RENEW|REBIND|REBOOT) ip -4 address flush dev "$interface"; ip address add "$new_ip_address/${new_subnet_mask:-255.255.255.0}" dev "$interface" ;;
  EXPIRE|FAIL|RELEASE|STOP|TIMEOUT) ip -4 address flush dev "$interface" ;;
esac
exit 0
SCRIPT
chmod +x "$work/dhclient-script"
case $client in
  dhclient) ip netns exec "$cli" dhclient -4 -d -sf "$work/dhclient-script" -pf "$work/dhclient.pid" \
              -lf /var/lib/dhcp/dhclient.v1.leases v1 >"$work/client.log" 2>&1 & ;;
  dhcpcd) ip netns exec "$cli" dhcpcd -4 -B -c /bin/true -f /dev/null v1 >"$work/client.log" 2>&1 & ;;
  *) fail "unknown client $client" ;;
esac
client_pid=$!

adapter_line() {  # the v1 adapter's line of test 1, as hostprobe --pass 1 writes it
  (cd "$work" && rm -f TEST_OUT.TXT && ip netns exec "$cli" "$exe" --pass 1 >/dev/null 2>"$work/err.txt") ||
    fail "hostprobe --pass 1 failed: $(cat "$work/err.txt")"
  tr -d '\000"' <"$work/TEST_OUT.TXT" | tr -d '\r' | grep -a -F $'|\\3|v1\t' | head -1
}

for _ in $(seq 150); do ip -n "$cli" -4 address show v1 2>/dev/null | grep -q 'inet 10\.77\.0\.' && break; sleep 0.1; done
ip -n "$cli" -4 address show v1 2>/dev/null | grep -q 'inet 10\.77\.0\.' || fail "no lease within 15 s: $(tail -3 "$work/client.log")"
# The client may have taken the address before writing its lease file.
sleep 1
line=$(adapter_line)
echo "with a lease:  $line"
case $line in
  *'|\6|1	'*'|\8|10.77.0.1	'*'|\10|1	'*'|\11|10.77.0.'*'|\12|10.77.0.9	|\13|10.77.0.10') ;;
  *) fail "the leased adapter does not show DHCP 1, server 10.77.0.1, WINS 10.77.0.9 and 10.77.0.10" ;;
esac
[ "$expire" = --expire ] || { echo "lease expiry not waited for (no --expire)"; exit 0; }

kill "$dns_pid"; wait "$dns_pid" 2>/dev/null; dns_pid=''
echo "DHCP server gone; waiting for the lease to run out (2 min)"
for _ in $(seq 200); do ip -n "$cli" -4 address show v1 2>/dev/null | grep -q 'inet 10\.77\.0\.' || break; sleep 1; done
ip -n "$cli" -4 address show v1 2>/dev/null | grep -q 'inet 10\.77\.0\.' && fail "the address is still there after 200 s"
kill -0 "$client_pid" 2>/dev/null || fail "$client ended with the lease"
line=$(adapter_line)
echo "lease expired: $line"
case $line in
  *'|\6|1	'*'|\8|255.255.255.255	'*'|\10|0	'*'|\11|0.0.0.0	'*) ;;
  *) fail "the adapter of a retrying client does not show DHCP 1, server 255.255.255.255, address 0.0.0.0" ;;
esac
