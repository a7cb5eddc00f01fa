#!/usr/bin/env bash
# The rollout playbook against simulators on 127.0.0.1, every site a local
# connection but one that cannot be reached. First the preflight (--check):
# every device is only connected to, nothing lands on a site and no
# simulator sees a frame. Run 1 goes in waves and stops when a wave fails
# beyond the share; the report, its totals and the retry inventory must say
# so for every device. Then the faulty simulators are replaced by good ones
# on the same ports, the unreachable site is reachable, and run 2 with the
# retry inventory programs every device left. Run 3 repeats two sites of run
# 1: with the same image and devices nothing is copied again.
# Usage: rollout_test.sh ANSIBLE_DIR MODBURN_CLI MODBURN_DEVSIM
set -euo pipefail
ansible_dir=$(realpath "$1")
cli=$(realpath "$2")
devsim=$(realpath "$3")
image=$(realpath "$(dirname "$0")/../../demo/TavimorkAVRMODavr.bin")

if ! command -v ansible-playbook >/dev/null; then
  echo "ansible-playbook is not installed (bash scripts/deps.sh --checks); skipped"
  exit 77
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/modburn-rollout.XXXXXX")
declare -A pid port
cleanup() {
  for p in "${pid[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  # MODBURN_KEEP_ROLLOUT=1 keeps the reports and logs to look at.
  if [ "${MODBURN_KEEP_ROLLOUT:-0}" = 1 ]; then echo "kept in $tmp"; else rm -rf "$tmp"; fi
}
trap cleanup EXIT

fail() {
  echo "rollout test: $*" >&2
  exit 1
}

# start_sim NAME PORT [simulator options]: PORT 0 picks a free one.
start_sim() {
  local name=$1 want=$2
  shift 2
  # The transcript has a line for every frame received.
  "$devsim" --port "$want" --transcript "$@" >"$tmp/sim-$name.log" 2>&1 &
  pid[$name]=$!
  for _ in $(seq 100); do
    if grep -q 'listening on 127.0.0.1:' "$tmp/sim-$name.log"; then
      port[$name]=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$tmp/sim-$name.log")
      return
    fi
    kill -0 "${pid[$name]}" 2>/dev/null || break
    sleep 0.1
  done
  cat "$tmp/sim-$name.log" >&2
  fail "simulator $name did not start"
}

stop_sim() {
  kill "${pid[$1]}"
  wait "${pid[$1]}" 2>/dev/null || true
  unset "pid[$1]"
}

for name in a1 a2 b1 c1 d1 e1 f1 g1; do start_sim "$name" 0; done
start_sim b2 0 --reject-page 5
start_sim c2 0 --silent-search 1000000
# Nothing listens there: SSH to it is refused at once.
closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

dev() { echo "127.0.0.1:${port[$1]}"; }
cat >"$tmp/sites.yml" <<EOF
all:
  vars:
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
    modburn_cli: $cli
    modburn_work_dir: "$tmp/work/{{ inventory_hostname }}"
  children:
    modburn_sites:
      hosts:
        site-a:
          ansible_connection: local
          modburn_devices: ["$(dev a1)", "$(dev a2)"]
        site-b:
          ansible_connection: local
          modburn_devices: ["$(dev b1)", "$(dev b2)"]
        site-c:
          ansible_connection: local
          modburn_devices: ["$(dev c1)", "$(dev c2)"]
        site-d:
          ansible_connection: ssh
          ansible_host: 127.0.0.1
          ansible_port: $closed
          ansible_ssh_common_args: -o BatchMode=yes -o ConnectTimeout=5 -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null
          modburn_devices: ["$(dev d1)"]
        site-e:
          ansible_connection: local
          modburn_devices: ["$(dev e1)"]
        site-g:
          ansible_connection: local
          modburn_devices: ["$(dev g1)", "press 7"]
        site-f:
          ansible_connection: local
          modburn_devices: ["$(dev f1)"]
EOF

export ANSIBLE_HOME=$tmp/ansible-home ANSIBLE_LOCAL_TEMP=$tmp/ansible-tmp ANSIBLE_REMOTE_TEMP=$tmp/ansible-remote
export ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_NOCOLOR=1 ANSIBLE_FORKS=10 ANSIBLE_HOST_KEY_CHECKING=0

# rollout RUN INVENTORY [extra variables as JSON [ansible-playbook options]]:
# the report folder in $tmp/RUN.
rollout() {
  local run=$1 inventory=$2 extra=${3:-"{}"} status=0
  shift $(($# < 3 ? $# : 3))
  mkdir -p "$tmp/$run"
  ansible-playbook -i "$inventory" "$ansible_dir/site.yml" \
    -e "modburn_image=$image" -e modburn_give_up_after=10 \
    -e "modburn_report_root=$tmp/$run" -e "$extra" "$@" >"$tmp/$run.log" 2>&1 || status=$?
  echo "$status" >"$tmp/$run.status"
  report=$(find "$tmp/$run" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  [ -f "$report/report.json" ] || {
    cat "$tmp/$run.log" >&2
    fail "$run wrote no report"
  }
  echo "$report"
}

# tasks RUN TASK...: how each named task of the role ended on each site, from
# the play's output, as "TASK site status" lines.
tasks() {
  python3 - "$tmp/$1.log" "${@:2}" <<'EOF'
import re, sys
task = None
for line in open(sys.argv[1]):
    m = re.match(r"TASK \[modburn_rollout : (.*?)\] \*", line)
    if m:
        task = m.group(1)
    m = re.match(r"(ok|changed|skipping|fatal): \[([^]\s]+)", line)
    if m and task in sys.argv[2:]:
        print(task, m.group(2), m.group(1))
EOF
}
# What a second run with the same image and devices must not change.
copies=("Make the working folder on the site" "Copy the image" "Write the device list")

# The preflight's inventory: site-e also has a device that refuses the
# connection, and site-h would install a package that is not installed (it
# uses no modburn-cli of its own), so its devices are not checked.
mkdir -p "$tmp/deb/DEBIAN"
cat >"$tmp/deb/DEBIAN/control" <<EOF
Package: modburn-rollout-preflight-test
Version: 0.0.1
Architecture: all
Maintainer: modburn <modburn@example.invalid>
Description: a package the preflight only names
EOF
dpkg-deb --build "$tmp/deb" "$tmp/absent.deb" >/dev/null
python3 - "$tmp/sites.yml" "$tmp/preflight.yml" "127.0.0.1:$closed" "$tmp/absent.deb" <<'EOF'
import sys, yaml
inventory = yaml.safe_load(open(sys.argv[1]))
hosts = inventory["all"]["children"]["modburn_sites"]["hosts"]
hosts["site-e"]["modburn_devices"].append(sys.argv[3])
hosts["site-h"] = {"ansible_connection": "local", "modburn_cli": "", "modburn_deb": sys.argv[4],
                   "modburn_devices": ["press-9.invalid"]}
yaml.safe_dump(inventory, open(sys.argv[2], "w"))
EOF

# The preflight checks every site at once, whatever the waves.
pre=$(rollout preflight "$tmp/preflight.yml" '{"modburn_waves": [1, 5, "100%"]}' --check)
[ "$(cat "$tmp/preflight.status")" = 2 ] || { cat "$tmp/preflight.log" >&2; fail "the preflight did not fail its failed sites"; }
[ ! -e "$tmp/work" ] || fail "the preflight made a working folder on a site: $(find "$tmp/work" | head -n 5)"
if grep -l -e '<-' "$tmp"/sim-*.log; then fail "the preflight sent a frame to the simulators above"; fi
if dpkg-query -W modburn-rollout-preflight-test >/dev/null 2>&1; then fail "the preflight installed the package"; fi
grep -q '"preflight: sites 8, sites passed 4, sites failed 3, ' "$tmp/preflight.log" ||
  { cat "$tmp/preflight.log" >&2; fail "the preflight's totals line"; }
python3 - "$pre" "$image" "$(dev d1)" "$(dev g1)" "127.0.0.1:$closed" <<'EOF' || { cat "$tmp/preflight.log" >&2; fail "the preflight's report"; }
import hashlib, json, sys
run, image, d1, g1, closed = sys.argv[1:]
report = json.load(open(run + "/report.json"))
def check(what, got, want):
    if got != want:
        sys.exit("preflight %s: %r, expected %r" % (what, got, want))
check("marked", report["preflight"], True)
check("heading", open(run + "/report.md").readline(), "# modburn rollout preflight\n")
sites = {s["site"]: s for s in report["sites"]}
check("site states", {n: (s["state"], s["failed"]) for n, s in sites.items()},
      {"site-a": ("ran", False), "site-b": ("ran", False), "site-c": ("ran", False), "site-d": ("unreachable", True),
       "site-e": ("ran", True), "site-f": ("ran", False), "site-g": ("error", True),
       "site-h": ("would install", False)})
check("site-g's reason", "device 'press 7'" in sites["site-g"]["reason"], True)
check("site-h's reason", sites["site-h"]["reason"],
      "would install modburn-rollout-preflight-test 0.0.1; the devices are not checked")
want = {d1: ("unreachable", "the site was not reachable"), closed: ("unreachable", "connection refused"),
        g1: ("not-run", None), "press 7": ("not-run", None), "press-9.invalid": ("not-checked", None)}
for name, s in sites.items():
    for d in s["devices"]:
        verdict, reason = want.get(d["device"], ("reachable", None))
        check(name + " " + d["device"], d["verdict"], verdict)
        if reason:
            check(d["device"] + "'s reason", d["reason"], reason)
check("devices", sum(len(s["devices"]) for s in sites.values()), 13)
totals = report["totals"]
check("totals", {k: totals[k] for k in ("sites", "sites_passed", "sites_failed", "sites_unreachable",
                                         "sites_would_install", "sites_not_run", "devices", "devices_reachable",
                                         "devices_unreachable", "devices_not_checked", "devices_not_run")},
      {"sites": 8, "sites_passed": 4, "sites_failed": 3, "sites_unreachable": 1, "sites_would_install": 1,
       "sites_not_run": 0, "devices": 13, "devices_reachable": 8, "devices_unreachable": 2,
       "devices_not_checked": 1, "devices_not_run": 2})
# The image went to modburn-cli on its standard input.
sha = hashlib.sha256(open(image, "rb").read()).hexdigest()
records = [json.loads(l) for l in open(run + "/events.jsonl") if '"start"' in l]
check("start lines", len(records), 9)
check("their digests", {l["image_sha256"] for l in records}, {sha})
EOF

# Waves of 1, 5 and the rest: site-a alone, then b to g, of which four fail
# (80% > 50%: site-g's list has a line modburn-cli refuses), so site-f's wave
# never starts.
run1=$(rollout run1 "$tmp/sites.yml" '{"modburn_waves": [1, 5, "100%"], "modburn_max_fail_percentage": 50}')
[ "$(cat "$tmp/run1.status")" != 0 ] || fail "run 1 succeeded with sites failed"

python3 - "$run1" "$image" "$(dev b2)" "$(dev c2)" "$(dev d1)" "$(dev f1)" "$(dev g1)" <<'EOF' || { cat "$tmp/run1.log" >&2; fail "run 1's report"; }
import hashlib, json, sys, yaml
run, image, b2, c2, d1, f1, g1 = sys.argv[1:]
report = json.load(open(run + "/report.json"))
sites = {s["site"]: s for s in report["sites"]}
verdicts = {s["site"]: [(d["device"], d["verdict"]) for d in s["devices"]] for s in report["sites"]}
def check(what, got, want):
    if got != want:
        sys.exit("%s: %r, expected %r" % (what, got, want))
check("sites", sorted(sites), ["site-a", "site-b", "site-c", "site-d", "site-e", "site-f", "site-g"])
check("site states", {n: (s["state"], s["failed"]) for n, s in sites.items()},
      {"site-a": ("ran", False), "site-b": ("ran", True), "site-c": ("ran", True), "site-d": ("unreachable", True),
       "site-e": ("ran", False), "site-f": ("not run", False), "site-g": ("error", True)})
check("site-g's reason", "devices.txt:3: device 'press 7'" in sites["site-g"]["reason"], True)
for name, s in sites.items():
    for d in s["devices"]:
        want = {b2: "failed", c2: "gave-up", d1: "unreachable", f1: "not-run", g1: "not-run",
                "press 7": "not-run"}.get(d["device"], "programmed")
        check(name + " " + d["device"], d["verdict"], want)
        if want == "programmed":
            check(d["device"] + " locks", d["locks"], "AF DC CC")
check("the refused device's reason", [d["reason"] for d in sites["site-b"]["devices"] if d["device"] == b2][0][:14],
      "page 5 refused")
totals = report["totals"]
check("totals", {k: totals[k] for k in ("sites", "sites_passed", "sites_failed", "sites_unreachable", "sites_not_run",
                                         "devices", "devices_programmed", "devices_failed", "devices_gave_up",
                                         "devices_unreachable", "devices_not_run")},
      {"sites": 7, "sites_passed": 2, "sites_failed": 4, "sites_unreachable": 1, "sites_not_run": 1,
       "devices": 11, "devices_programmed": 5, "devices_failed": 1, "devices_gave_up": 1,
       "devices_unreachable": 1, "devices_not_run": 3})

# The text report has a row for every device with its verdict.
text = open(run + "/report.md").read()
for name, rows in verdicts.items():
    for device, verdict in rows:
        check(device + " row", ("| %s | %s |" % (device, verdict)) in text, True)

# Every site's start and summary lines name the image that went out.
sha = hashlib.sha256(open(image, "rb").read()).hexdigest()
lines = [json.loads(l) for l in open(run + "/events.jsonl")]
records = [l for l in lines if l["event"] in ("start", "summary")]
check("start and summary lines", len(records), 7 + 4)
check("their digests", {l["image_sha256"] for l in records}, {sha})

retry = yaml.safe_load(open(run + "/retry.yml"))
hosts = retry["all"]["children"]["modburn_sites"]["hosts"]
check("retry devices", {n: h["modburn_devices"] for n, h in hosts.items()},
      {"site-b": [b2], "site-c": [c2], "site-d": [d1], "site-f": [f1], "site-g": [g1, "press 7"]})
EOF

# Run 1 put its files into the working folder and its frames into the
# transcripts that the preflight had to leave alone.
[ -f "$tmp/work/site-a/image.bin" ] || fail "run 1 left no image in site-a's working folder"
grep -q -e '<-' "$tmp/sim-a1.log" || fail "run 1's frames are not in the simulator's transcript"
[ "$(tasks run1 "${copies[@]}" | grep -c ' site-a changed$')" = 3 ] || fail "run 1 copied nothing to site-a"

# Mend the devices: good simulators on the faulty ones' ports, site-d
# reachable (a local connection) and site-g's bad line a simulator's address
# in the retry inventory.
for name in b2 c2; do
  old=${port[$name]}
  stop_sim "$name"
  start_sim "$name" "$old"
done
start_sim g2 0
python3 - "$run1/retry.yml" "$tmp/retry.yml" "$(dev g2)" <<'EOF'
import sys, yaml
retry = yaml.safe_load(open(sys.argv[1]))
hosts = retry["all"]["children"]["modburn_sites"]["hosts"]
hosts["site-g"]["modburn_devices"][1] = sys.argv[3]
site = hosts["site-d"]
for key in [k for k in site if k.startswith("ansible_") and k != "ansible_python_interpreter"]:
    del site[key]
site["ansible_connection"] = "local"
yaml.safe_dump(retry, open(sys.argv[2], "w"))
EOF

# The defaults: one site first, then the rest; any failed site stops the waves.
run2=$(rollout run2 "$tmp/retry.yml")
[ "$(cat "$tmp/run2.status")" = 0 ] || { cat "$tmp/run2.log" >&2; fail "run 2 failed"; }
python3 - "$run2" "$(dev b2)" "$(dev c2)" "$(dev d1)" "$(dev f1)" "$(dev g1)" "$(dev g2)" <<'EOF' || { cat "$tmp/run2.log" >&2; fail "run 2's report"; }
import json, sys, yaml
run, *left = sys.argv[1:]
report = json.load(open(run + "/report.json"))
got = {d["device"]: d["verdict"] for s in report["sites"] for d in s["devices"]}
if got != {d: "programmed" for d in left}:
    sys.exit("run 2 devices: %r" % got)
if report["totals"]["sites_passed"] != 5 or report["totals"]["devices_programmed"] != 6:
    sys.exit("run 2 totals: %r" % report["totals"])
retry = yaml.safe_load(open(run + "/retry.yml"))
if retry["all"]["children"]["modburn_sites"]["hosts"]:
    sys.exit("run 2 left devices to retry: %r" % retry)
EOF
# Run 3: site-a and site-e again, as in run 1. Their folders hold the same
# files already; only the programming changes anything on them.
run3=$(rollout run3 "$tmp/sites.yml" '{"modburn_waves": ["100%"]}' --limit site-a,site-e)
[ "$(cat "$tmp/run3.status")" = 0 ] || { cat "$tmp/run3.log" >&2; fail "run 3 failed"; }
got=$(tasks run3 "${copies[@]}" "Program every device of the site at once" | sort)
want=$(for site in site-a site-e; do
  for task in "${copies[@]}"; do echo "$task $site ok"; done
  echo "Program every device of the site at once $site changed"
done | sort)
[ "$got" = "$want" ] || fail "run 3, how the tasks ended:
$got
expected:
$want"
grep -q '"sites 2, sites passed 2, sites failed 0, sites unreachable 0, sites not run 0, devices 3, devices programmed 3,' \
  "$tmp/run3.log" || { cat "$tmp/run3.log" >&2; fail "run 3's totals"; }
echo "rollout test: the preflight connected only, run 1 stopped after its second wave as set," \
  "run 2 programmed the 6 devices left, run 3 copied nothing again"
