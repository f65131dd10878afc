#!/usr/bin/env bash
# The Ansible contribution, run with ansible-core against hosts on this
# machine: collect.yml on two inventory hosts (local connection, a working
# directory each; one live, one replaying a snapshot) must bring every host's
# log and report to the controller, and hostprobe.fact in a facts directory
# must give ansible_local.hostprobe with the report's keys.
# Usage: ansible_test.sh HOSTPROBE SOURCE_DIR. Exit 77 (skipped) without ansible-core.
set -euo pipefail
hostprobe=$(realpath "$1")
src=$(realpath "$2")
for tool in ansible ansible-playbook; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool not found (Debian's ansible-core; tools/deps.sh installs it)"
    exit 77
  fi
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp ANSIBLE_REMOTE_TEMP=$work/ansible/remote
export ANSIBLE_CONFIG=$work/none.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_LOCALHOST_WARNING=0 ANSIBLE_INVENTORY_UNPARSED_WARNING=0
fixture=$src/tests/fixtures/probes_vmware.json
cat >"$work/inventory" <<INVENTORY
[probed]
host-a ansible_connection=local hostprobe_dir=$work/hosts/a
host-b ansible_connection=local hostprobe_dir=$work/hosts/b hostprobe_options='["--replay", "$fixture"]'
INVENTORY
ansible-playbook -i "$work/inventory" "$src/contrib/ansible/collect.yml" \
  -e hostprobe_bin="$hostprobe" -e hostprobe_collect_dir="$work/collected" >"$work/playbook.out" 2>&1 || {
  cat "$work/playbook.out"; echo "FAIL: ansible-playbook"; exit 1; }

# What a replay of the same snapshot writes, for host-b.
mkdir "$work/direct" && (cd "$work/direct" && "$hostprobe" --replay "$fixture" --pass 1 >/dev/null)
(cd "$work/direct" && "$hostprobe" --replay "$fixture" --report --json >report.json)

mkdir "$work/facts.d" && cp "$src/contrib/ansible/hostprobe.fact" "$work/facts.d/"
PATH=$(dirname "$hostprobe"):$PATH ansible localhost -i localhost, -c local -m setup \
  -a "fact_path=$work/facts.d filter=ansible_local" >"$work/setup.out" 2>&1 || {
  cat "$work/setup.out"; echo "FAIL: ansible -m setup"; exit 1; }

/usr/bin/python3 - "$work" <<'PY'
import json, sys
work = sys.argv[1]
failures = []
def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)
for host, source in (("host-a", "live"), ("host-b", "replay")):
    log = open(f"{work}/collected/{host}/TEST_OUT.TXT", "rb").read()
    check(log.count(b'"\r\n"') == 8 and log.endswith(b"#" * 90 + b'"\r\n'), f"{host}: nine records arrived")
    report = json.load(open(f"{work}/collected/{host}/report.json"))
    check(report["hostprobe_report"] == 1 and report["source"] == source, f"{host}: its {source} report arrived")
direct = open(f"{work}/direct/TEST_OUT.TXT", "rb").read()
check(open(f"{work}/collected/host-b/TEST_OUT.TXT", "rb").read() == direct, "host-b: the log of the snapshot, byte for byte")
check(json.load(open(f"{work}/collected/host-b/report.json")) == json.load(open(f"{work}/direct/report.json")),
      "host-b: the report of the snapshot")
out = open(f"{work}/setup.out").read()
facts = json.loads(out[out.index("{"):])["ansible_facts"]
local = facts.get("ansible_local", {}).get("hostprobe")
keys = list(json.load(open(f"{work}/direct/report.json")))
check(isinstance(local, dict) and sorted(local) == sorted(keys), "ansible_local.hostprobe has the report's keys")
check(isinstance(local, dict) and local.get("hostprobe_report") == 1 and local.get("source") == "live",
      "ansible_local.hostprobe is this machine's report")
sys.exit(1 if failures else 0)
PY
