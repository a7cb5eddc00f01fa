#!/usr/bin/python3
"""The rollout's report, written on the controller after every wave."""

import json
import os
import re

import yaml  # ansible-core's own dependency
from ansible.module_utils.basic import AnsibleModule

DOCUMENTATION = r"""
module: modburn_report
short_description: Judges a rollout's sites and writes its report
description:
  - Runs on the controller. Reads every site's modburn-cli JSON lines from RUN_DIR/sites/SITE/events.jsonl and
    writes into RUN_DIR report.md, report.json, events.jsonl (every site's lines, each with a site key) and, unless
    it is a preflight, retry.yml (an inventory of the devices not programmed).
  - Every device is named as modburn-cli named it in its start record; the devices of a site where the tool did not
    run are named as the inventory writes them.
  - Returns every site's verdict, the totals, and whether the wave just run stops the rollout.
options:
  run_dir: {description: The rollout's report folder., type: path, required: true}
  sites:
    description: Every site of the rollout, in order, each with name, state (ran, unreachable, error, would install or
      not run), error, would_install, devices (as in the inventory) and vars (kept in the retry inventory).
    type: list
    elements: dict
    required: true
  wave: {description: The sites of the wave just run., type: list, elements: str, default: []}
  preflight: {description: The run only connected to the devices (modburn-cli program --dry-run)., type: bool}
  fail_share: {description: A site fails when more than this share of its devices is not programmed., type: float}
  max_fail_percentage: {description: A wave with more failed sites than this percentage stops the rollout., type: float}
  group: {description: The inventory group of the sites, for the retry inventory., type: str, default: modburn_sites}
  image: {description: The image, as named in the report., type: str, default: ""}
  give_up_after: {description: The give-up time in seconds, as named in the report., type: int, default: 0}
"""

RETURN = r"""
sites: {description: "Every site's verdict: state, failed and reason.", type: dict, returned: always}
totals: {description: Sites and devices counted by outcome., type: dict, returned: always}
stop: {description: The wave just run had more failed sites than max_fail_percentage allows., type: bool, returned: always}
summary: {description: The totals as lines for the play's output., type: list, elements: str, returned: always}
report: {description: The path of report.md., type: str, returned: always}
"""

# Site states as the play records them.
RAN = "ran"
UNREACHABLE = "unreachable"
ERROR = "error"
WOULD_INSTALL = "would install"
NOT_RUN = "not run"

PROGRAM_VERDICTS = ("programmed", "failed", "error", "gave-up", "interrupted")
PREFLIGHT_VERDICTS = ("reachable", "not-checked", "gave-up", "interrupted")
SITE_VERDICTS = ("unreachable", "not-run", "missing")


def as_written(devices):
    """The inventory's devices, read as Ansible's argument check reads a list."""
    if isinstance(devices, str):
        return [d.strip() for d in devices.split(",")]
    if isinstance(devices, (list, tuple)):
        return [str(d) for d in devices]
    return [str(devices)]


def by_name(device):
    return [int(part) if i % 2 else part for i, part in enumerate(re.split(r"(\d+)", device))]


def read_lines(path):
    events = []
    if not os.path.exists(path):
        return events
    with open(path, encoding="utf-8") as stream:
        for line in stream:
            line = line.strip()
            if not line:
                continue
            try:
                events.append(json.loads(line))
            except ValueError:
                events.append({"event": "unreadable", "message": line})
    return events


def site_result(run_dir, site, fail_share, preflight):
    name = site["name"]
    state = site.get("state") or NOT_RUN
    error = " ".join(str(site.get("error") or "").split())
    written = as_written(site.get("devices") or [])
    events = read_lines(os.path.join(run_dir, "sites", name, "events.jsonl")) if state == RAN else []
    # The tool writes one start record per device, before anything else of
    # that device: those are the rows. The device threads write them in no
    # set order, so the rows go by name, numbers by value.
    starts = sorted((str(e.get("device")) for e in events if e.get("event") == "start"), key=by_name)
    ends = {e.get("device"): e for e in events if e.get("event") == "end"}
    summary = next((e for e in events if e.get("event") == "summary"), None)

    devices = []
    for device in starts or written:
        end = ends.get(device)
        if state == UNREACHABLE:
            row = {"verdict": "unreachable", "reason": "the site was not reachable"}
        elif state == ERROR:
            row = {"verdict": "not-run", "reason": "site error: " + error}
        elif state == WOULD_INSTALL:
            row = {"verdict": "not-checked", "reason": "the site " + site.get("would_install", "")}
        elif state == NOT_RUN:
            row = {"verdict": "not-run", "reason": "the site's wave did not run"}
        elif end is None:
            row = {"verdict": "missing", "reason": "no end line from modburn-cli"}
        else:
            row = {
                "verdict": end.get("verdict"),
                "locks": end.get("locks"),
                "elapsed_ms": end.get("elapsed_ms"),
                "reason": end.get("message") or "",
            }
        row["device"] = device
        devices.append(row)

    good = "reachable" if preflight else "programmed"
    left = [d["device"] for d in devices if d["verdict"] != good]
    if state == UNREACHABLE:
        failed, reason = True, "unreachable"
    elif state == ERROR:
        failed, reason = True, error
    elif state == WOULD_INSTALL:
        failed, reason = False, " ".join(site.get("would_install", "").split())
    elif state == NOT_RUN:
        failed, reason = False, "its wave did not start"
    elif not devices:
        failed, reason = True, "no devices"
    else:
        failed = len(left) / len(devices) > fail_share
        reason = "%d of %d devices not %s" % (len(left), len(devices), good)
    return {
        "site": name,
        "state": state,
        "failed": failed,
        "reason": reason,
        "record": {k: summary.get(k) for k in ("version", "image_sha256", "image_bytes", "started_at", "finished_at",
                                               "elapsed_ms", "verdict", "message")} if summary else None,
        "devices": devices,
        "left": left,
        "events": events,
    }


def count(results, preflight):
    devices = [d for r in results for d in r["devices"]]
    totals = {"sites": len(results),
              "sites_passed": sum(1 for r in results if r["state"] == RAN and not r["failed"]),
              "sites_failed": sum(1 for r in results if r["failed"]),
              "sites_unreachable": sum(1 for r in results if r["state"] == UNREACHABLE)}
    if preflight:
        totals["sites_would_install"] = sum(1 for r in results if r["state"] == WOULD_INSTALL)
    totals["sites_not_run"] = sum(1 for r in results if r["state"] == NOT_RUN)
    totals["devices"] = len(devices)
    verdicts = list(PREFLIGHT_VERDICTS if preflight else PROGRAM_VERDICTS) + list(SITE_VERDICTS)
    # A verdict the tool has that this list does not still counts.
    verdicts += sorted({str(d["verdict"]) for d in devices} - set(verdicts))
    for verdict in verdicts:
        totals["devices_" + verdict.replace("-", "_")] = sum(1 for d in devices if d["verdict"] == verdict)
    return totals


def cell(value):
    text = "-" if value in (None, "") else str(value)
    return text.replace("|", "\\|").replace("\n", " ")


def seconds(ms):
    return "-" if ms is None else "%.1f s" % (ms / 1000.0)


def markdown(params, results, totals, stopped):
    preflight = params["preflight"]
    out = ["# modburn rollout preflight" if preflight else "# modburn rollout", ""]
    if preflight:
        out.append("A preflight (`--check`): nothing was installed, copied or programmed; every site only connected to "
                   "its devices (`modburn-cli program --dry-run`). A site fails when more than %g%% of its devices are "
                   "not reachable." % (100 * params["fail_share"]))
    else:
        out.append("Image `%s`, give-up time %s s; a site fails when more than %g%% of its devices are not programmed."
                   % (params["image"], params["give_up_after"], 100 * params["fail_share"]))
    if stopped:
        out.append("")
        out.append("The rollout stopped after the wave of %s: more than %g%% of its sites failed." % (
            ", ".join(stopped), params["max_fail_percentage"]))
    out.append("")
    out.append("## Totals")
    out.append("")
    out.append("| | count |")
    out.append("|---|---|")
    for key, value in totals.items():
        out.append("| %s | %d |" % (key.replace("_", " "), value))
    for result in results:
        out.append("")
        if result["failed"]:
            state = "failed"
        elif result["state"] in (NOT_RUN, WOULD_INSTALL):
            state = result["state"]
        else:
            state = "passed"
        out.append("## Site %s: %s (%s)" % (result["site"], state, result["reason"]))
        out.append("")
        record = result["record"]
        if record:
            out.append("modburn-cli %s, image sha256 `%s` (%s bytes), %s to %s." % (
                record["version"], record["image_sha256"], record["image_bytes"], record["started_at"],
                record["finished_at"]))
            out.append("")
        out.append("| device | verdict | locks | time | reason |")
        out.append("|---|---|---|---|---|")
        for device in result["devices"]:
            out.append("| %s | %s | %s | %s | %s |" % (
                cell(device["device"]), cell(device["verdict"]), cell(device.get("locks")),
                seconds(device.get("elapsed_ms")), cell(device.get("reason"))))
    return "\n".join(out) + "\n"


def write(path, text):
    """Replaces the file when its text differs; says whether it did."""
    try:
        with open(path, encoding="utf-8") as stream:
            if stream.read() == text:
                return False
    except FileNotFoundError:
        pass
    with open(path + ".part", "w", encoding="utf-8") as stream:
        stream.write(text)
    os.replace(path + ".part", path)
    return True


def main():
    module = AnsibleModule(
        argument_spec={
            "run_dir": {"type": "path", "required": True},
            "sites": {"type": "list", "elements": "dict", "required": True},
            "wave": {"type": "list", "elements": "str", "default": []},
            "preflight": {"type": "bool", "default": False},
            "fail_share": {"type": "float", "default": 0.0},
            "max_fail_percentage": {"type": "float", "default": 0.0},
            "group": {"type": "str", "default": "modburn_sites"},
            "image": {"type": "str", "default": ""},
            "give_up_after": {"type": "int", "default": 0},
        },
        supports_check_mode=True,
    )
    params = module.params
    run_dir = params["run_dir"]
    preflight = params["preflight"]
    results = [site_result(run_dir, site, params["fail_share"], preflight) for site in params["sites"]]
    totals = count(results, preflight)

    # A preflight is one wave of every site and stops nothing.
    named = {r["site"]: r for r in results}
    wave = [named[n] for n in params["wave"] if n in named]
    stop = bool(wave) and not preflight and \
        100.0 * sum(1 for r in wave if r["failed"]) / len(wave) > params["max_fail_percentage"]
    stopped = [r["site"] for r in wave] if stop else []

    files = {
        "report.md": markdown(params, results, totals, stopped),
        "report.json": json.dumps({"preflight": preflight, "stopped_after": stopped, "totals": totals,
                                   "sites": [{k: v for k, v in r.items() if k not in ("events", "left")}
                                             for r in results]},
                                  indent=2, ensure_ascii=False) + "\n",
        "events.jsonl": "".join(json.dumps(dict(e, site=r["site"]), ensure_ascii=False) + "\n"
                                for r in results for e in r["events"]),
    }
    if not preflight:
        # Only the sites with devices left, each with its connection and the devices left.
        sites = {s["name"]: s for s in params["sites"]}
        hosts = {}
        for result in results:
            if result["left"]:
                host = dict(sites[result["site"]].get("vars") or {})
                host["modburn_devices"] = result["left"]
                hosts[result["site"]] = host
        retry = {"all": {"children": {params["group"]: {"hosts": hosts}}}}
        files["retry.yml"] = "# Devices not programmed; use as the inventory of the next run.\n" + yaml.safe_dump(
            retry, default_flow_style=False, sort_keys=True, allow_unicode=True, width=1 << 16)

    changed = False
    if not module.check_mode:
        for name, text in files.items():
            changed = write(os.path.join(run_dir, name), text) or changed

    line = ", ".join("%s %d" % (k.replace("_", " "), v) for k, v in totals.items())
    summary = ["report: %s" % os.path.join(run_dir, "report.md")]
    if preflight:
        summary.append("preflight: " + line)
    else:
        summary.append("retry inventory: %s (%d devices)" % (os.path.join(run_dir, "retry.yml"),
                                                            sum(len(r["left"]) for r in results)))
        summary.append(line)
    if stop:
        summary.append("the rollout stops: more than %g%% of this wave's sites failed" % params["max_fail_percentage"])
    module.exit_json(changed=changed, stop=stop, totals=totals, summary=summary,
                     report=os.path.join(run_dir, "report.md"),
                     sites={r["site"]: {"state": r["state"], "failed": r["failed"], "reason": r["reason"]}
                            for r in results})


if __name__ == "__main__":
    main()
