#!/usr/bin/env python3
"""Writes a rollout's report from the sites' modburn-cli JSON lines.

Usage: modburn_report.py RUN_DIR

Reads RUN_DIR/sites.json (every site, how it ended, its devices) and
RUN_DIR/sites/<site>/events.jsonl, and writes into RUN_DIR:
  report.md     a table per site and device, the totals
  report.json   the same as data, with every site's run record
  events.jsonl  every site's JSON lines, each with a "site" key
  retry.yml     an inventory of the devices not programmed, in the shape of
                the input inventory, for the same playbook
  verdicts.json whether each site failed, and why, for the play to judge it
and prints the totals.
"""

import json
import os
import sys

import yaml

# Site states as the play records them.
RAN = "ran"
UNREACHABLE = "unreachable"
ERROR = "error"
NOT_RUN = "not run"


def label(device, port):
    """The device as modburn-cli names it in its reports: host:port, [v6]:port."""
    device = str(device).strip()
    if device.startswith("["):
        return device if "]:" in device else device + ":%d" % port
    if device.count(":") > 1:
        return "[%s]:%d" % (device, port)
    return device if ":" in device else "%s:%d" % (device, port)


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


def site_result(run_dir, site, fail_share):
    name = site["name"]
    state = site["state"]
    labels = [label(d, site["port"]) for d in site["devices"]]
    folder = os.path.join(run_dir, "sites", name)
    events = read_lines(os.path.join(folder, "events.jsonl")) if state == RAN else []
    ends = {e.get("device"): e for e in events if e.get("event") == "end"}
    summary = next((e for e in events if e.get("event") == "summary"), None)

    devices = []
    for device in labels:
        end = ends.get(device)
        if state == UNREACHABLE:
            row = {"verdict": "unreachable", "reason": "the site was not reachable"}
        elif state == ERROR:
            row = {"verdict": "not-run", "reason": "site error: " + " ".join(site["error"].split())}
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

    left = [d["device"] for d in devices if d["verdict"] != "programmed"]
    if state == UNREACHABLE:
        failed, reason = True, "unreachable"
    elif state == ERROR:
        failed, reason = True, " ".join(site["error"].split())
    elif state == NOT_RUN:
        failed, reason = False, "its wave did not start"
    elif not devices:
        failed, reason = True, "no devices"
    else:
        share = len(left) / len(devices)
        failed = share > fail_share
        reason = "%d of %d devices not programmed" % (len(left), len(devices))
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


def cell(value):
    text = "-" if value in (None, "") else str(value)
    return text.replace("|", "\\|").replace("\n", " ")


def seconds(ms):
    return "-" if ms is None else "%.1f s" % (ms / 1000.0)


def markdown(manifest, results, totals):
    out = ["# modburn rollout", ""]
    out.append("Image `%s`, give-up time %s s; a site fails when more than %g%% of its devices are not programmed." % (
        manifest["image"], manifest["give_up_after"], 100 * manifest["fail_share"]))
    out.append("")
    out.append("## Totals")
    out.append("")
    out.append("| | count |")
    out.append("|---|---|")
    for key, value in totals.items():
        out.append("| %s | %d |" % (key.replace("_", " "), value))
    for result in results:
        out.append("")
        state = "failed" if result["failed"] else ("not run" if result["state"] == NOT_RUN else "passed")
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


def main():
    run_dir = sys.argv[1]
    with open(os.path.join(run_dir, "sites.json"), encoding="utf-8") as stream:
        manifest = json.load(stream)
    results = [site_result(run_dir, site, float(manifest["fail_share"])) for site in manifest["sites"]]

    devices = [d for r in results for d in r["devices"]]
    totals = {"sites": len(results),
              "sites_passed": sum(1 for r in results if r["state"] == RAN and not r["failed"]),
              "sites_failed": sum(1 for r in results if r["failed"]),
              "sites_unreachable": sum(1 for r in results if r["state"] == UNREACHABLE),
              "sites_not_run": sum(1 for r in results if r["state"] == NOT_RUN),
              "devices": len(devices)}
    for verdict in ("programmed", "failed", "error", "gave-up", "interrupted", "unreachable", "not-run", "missing"):
        totals["devices_" + verdict.replace("-", "_")] = sum(1 for d in devices if d["verdict"] == verdict)

    # Only the sites with devices left, each with its connection and the devices left.
    retry_hosts = {}
    by_name = {s["name"]: s for s in manifest["sites"]}
    for result in results:
        if result["left"]:
            host = dict(by_name[result["site"]]["vars"])
            host["modburn_devices"] = result["left"]
            retry_hosts[result["site"]] = host
    retry = {"all": {"children": {manifest["group"]: {"hosts": retry_hosts}}}}

    def write(name, text):
        path = os.path.join(run_dir, name)
        with open(path + ".part", "w", encoding="utf-8") as stream:
            stream.write(text)
        os.replace(path + ".part", path)

    write("report.md", markdown(manifest, results, totals))
    report = {"totals": totals,
              "sites": [{k: v for k, v in r.items() if k not in ("events", "left")} for r in results]}
    write("report.json", json.dumps(report, indent=2, ensure_ascii=False) + "\n")
    write("events.jsonl", "".join(json.dumps(dict(e, site=r["site"]), ensure_ascii=False) + "\n"
                                  for r in results for e in r["events"]))
    write("retry.yml", "# Devices not programmed; use as the inventory of the next run.\n" +
          yaml.safe_dump(retry, default_flow_style=False, sort_keys=True, allow_unicode=True, width=1 << 16))
    write("verdicts.json", json.dumps({r["site"]: {"failed": r["failed"], "reason": r["reason"]} for r in results}))

    print("report: %s" % os.path.join(run_dir, "report.md"))
    print("retry inventory: %s (%d devices)" % (os.path.join(run_dir, "retry.yml"),
                                                sum(len(r["left"]) for r in results)))
    print(", ".join("%s %d" % (k.replace("_", " "), v) for k, v in totals.items()))


if __name__ == "__main__":
    main()
