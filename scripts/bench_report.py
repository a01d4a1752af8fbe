#!/usr/bin/env python3
"""The figures of docs/PERFORMANCE.md from one run of scripts/bench.

  bench_report.py begin --perf DIR ...   records the machine and its load as the run starts
  bench_report.py end --perf DIR         records the load as the run ends
  bench_report.py tables --perf DIR --doc FILE
      turns the JSON of DIR into the plot of the page openings and the tables of FILE
      (the text between "<!-- figures:NAME -->" and "<!-- /figures:NAME -->"), each
      headed by the machine, date and load of the run

A result whose date lies outside the run of DIR/machine.json is not used: its section
says so, so that no table mixes runs. Times are CPU times unless a table says
otherwise: the figures are taken on shared machines, where wall-clock times mostly
measure the neighbours.
"""

import argparse
import datetime
import json
import os
import re
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

SCALING_LIMIT = 12.0  # 10x the work within 12x the time
VALUES_LIMIT = 2.0    # a document with values within twice the time of one without
PURGE_LIMIT_MS = 50   # the purge of 20,000 properties
MEMORY_LIMIT_MIB = 64
PARSE_VS_SPLIT_LIMIT = 3.0
PARSE_VS_INIH_LIMIT = 1.0
PARSE_VS_VIEW_SPLIT_LIMIT = 15.0
PARSE_VS_INIH_HALF = 0.5  # at least 2x faster than inih keeping its entries
PARSE_MIXED_NS = 100.0
PARSE_SCALING_LIMIT = 1.15  # per line at 32k lines against 1k
CHECK_VS_OPEN_LIMIT = 3.0
DOCUMENT_VS_PLAIN_LIMIT = 2.0  # the 1,000 x 100 document against plain JSON
PREVIEW_LIMITS_MS = {0: 5.0, 1000: 100.0}  # wall clock, by page (0: the example)
BROWSER_KEY_MS = 100.0     # key to composite shown, in Chromium, median
BROWSER_SWITCH_MS = 300.0  # configuration switch, in Chromium, median


def load(path):
    with open(path) as f:
        return json.load(f)


def runs(report):
    """Run name -> result: the median when there are repetitions, else the run."""
    medians = {b["run_name"]: b for b in report["benchmarks"] if b.get("aggregate_name") == "median"}
    if medians:
        return medians
    return {b["run_name"]: b for b in report["benchmarks"] if b.get("run_type") == "iteration"}


def to_ms(result, key="cpu_time"):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[result["time_unit"]]
    return result[key] * scale


def args_of(name):
    return {k: int(v) for k, v in re.findall(r"(\w+):(\d+)", name)}


def now():
    return datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)


# ---- the run ----

def lscpu():
    """The processor as lscpu names it: {field: value} of its "Name: value" lines."""
    out = subprocess.run(["lscpu"], capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
    fields = {}
    for line in out.stdout.splitlines():
        name, sep, value = line.partition(":")
        if sep:
            fields[name.strip()] = value.strip()
    keep = ("Architecture", "Model name", "CPU family", "Model", "Thread(s) per core", "Hypervisor vendor")
    return {name: fields[name] for name in keep if name in fields}


def begin(args):
    run = {"started": now().isoformat(), "cpus": os.cpu_count(), "lscpu": lscpu(),
           "load_before": list(os.getloadavg()), "repetitions": args.repetitions,
           "filter": args.filter, "quick": args.quick}
    write_json(os.path.join(args.perf, "machine.json"), run)


def end(args):
    path = os.path.join(args.perf, "machine.json")
    run = load(path)
    run["finished"] = now().isoformat()
    run["load_after"] = list(os.getloadavg())
    write_json(path, run)


def write_json(path, value):
    with open(path, "w") as f:
        json.dump(value, f, indent=2)
        f.write("\n")


class Run:
    """The run of machine.json: names it, and tells whether a result belongs to it."""

    def __init__(self, run):
        self.run = run
        self.started = datetime.datetime.fromisoformat(run["started"])
        self.finished = datetime.datetime.fromisoformat(run["finished"])

    def holds(self, date):
        # Dates are taken to the second.
        when = datetime.datetime.fromisoformat(date)
        slack = datetime.timedelta(seconds=1)
        return self.started - slack <= when <= self.finished + slack

    def heading(self, what):
        r, cpu = self.run, self.run["lscpu"]
        loads = lambda xs: " / ".join(f"{x:.1f}" for x in xs)
        under = f", {cpu['Hypervisor vendor']}" if cpu.get("Hypervisor vendor") else ""
        name = (f"{cpu.get('Architecture', '?')} {cpu.get('Model name', '?')} (family {cpu.get('CPU family', '?')}, "
                f"model {cpu.get('Model', '?')}{under}), {r['cpus']} CPUs")
        line = (f"Run of {self.started:%Y-%m-%d %H:%M} UTC on {name}; load average {loads(r['load_before'])} "
                f"before, {loads(r['load_after'])} after (1, 5, 15 min); {what}.")
        trial = [f"BENCH_FILTER={r['filter']}"] if r.get("filter") else []
        trial += ["BENCH_QUICK=1"] if r.get("quick") else []
        if trial:
            line += f" Trial run ({', '.join(trial)}): not for comparison."
        return line

    def median(self):
        repetitions = self.run["repetitions"]
        return "one repetition" if repetitions == 1 else f"median of {repetitions} repetitions"


def check(ok):
    return "yes" if ok else "**no**"


# ---- opening the page ----

def openings(page):
    """(values, fields, configs) -> result of BM_OpenPage."""
    out = {}
    for name, r in runs(page).items():
        if name.startswith("BM_OpenPage/"):
            a = args_of(name)
            out[(a["values"], a["fields"], a["configs"])] = r
    return out


def scaling_pairs(series):
    """Pairs of runs of one series where one of fields and configurations is 10x, the
    other the same. (Across shapes, such as 10 x 10 against 1,000 x 1, the work per
    field that does not depend on the configurations would count as growth.)"""
    pairs = []
    for (f1, c1), r1 in series.items():
        for (f2, c2), r2 in series.items():
            if (f2 == 10 * f1 and c2 == c1) or (f2 == f1 and c2 == 10 * c1):
                pairs.append(((f1, c1), (f2, c2), to_ms(r2) / to_ms(r1)))
    return sorted(pairs, key=lambda p: (p[0][0] * p[0][1], p[1]))


SERIES = {1: "document with values", 0: "document without properties"}


def page_tables(page, run):
    data = openings(page)
    lines = [run.heading(f"{run.median()}, CPU time"), ""]
    lines += ["| document | fields | configurations | fields x configurations | host calls | "
              "CPU time per opening | per host call | wall-clock time |",
              "|---|---:|---:|---:|---:|---:|---:|---:|"]
    for values in (1, 0):
        for (v, fields, configs), r in sorted(data.items(), key=lambda i: (i[0][1] * i[0][2], i[0])):
            if v != values:
                continue
            lines.append(f"| {SERIES[values]} | {fields} | {configs} | {fields * configs} | "
                         f"{r['host_calls']:.0f} | {to_ms(r):.3f} ms | {r['per_host_call'] * 1e9:.0f} ns | "
                         f"{to_ms(r, 'real_time'):.3f} ms |")
    lines += ["", "Growth: each pair of runs with 10x the fields or 10x the configurations, the other the same.", "",
              "| document | from | to | time ratio | within 12x |", "|---|---|---|---:|---|"]
    worst = {}
    for values in (1, 0):
        series = {(f, c): r for (v, f, c), r in data.items() if v == values}
        for a, b, ratio in scaling_pairs(series):
            worst[values] = max(worst.get(values, 0), ratio)
            lines.append(f"| {SERIES[values]} | {a[0]} x {a[1]} | {b[0]} x {b[1]} | {ratio:.1f}x | "
                         f"{check(ratio <= SCALING_LIMIT)} |")
    lines += ["", "Values: each shape on the document with values against the same shape without.", "",
              "| fields | configurations | with values | without | ratio | within 2x |", "|---:|---:|---:|---:|---:|---|"]
    for (v, fields, configs), r in sorted(data.items(), key=lambda i: (i[0][1] * i[0][2], i[0])):
        other = data.get((0, fields, configs))
        if v != 1 or other is None:
            continue
        ratio = to_ms(r) / to_ms(other)
        lines.append(f"| {fields} | {configs} | {to_ms(r):.3f} ms | {to_ms(other):.3f} ms | {ratio:.1f}x | "
                     f"{check(ratio <= VALUES_LIMIT)} |")
    lines.append("")
    for values in (1, 0):
        if values in worst:
            lines.append(f"- {SERIES[values]}: largest ratio {worst[values]:.1f}x "
                         f"({'within' if worst[values] <= SCALING_LIMIT else 'over'} the 12x target)")
    return "\n".join(lines), worst


def event_table(page, run):
    rows = [r for name, r in runs(page).items() if name.startswith("BM_TextboxChangedWithComposites")]
    if not rows:
        return not_measured("BM_TextboxChangedWithComposites")
    r = rows[0]
    text = run.heading(f"{run.median()}, CPU time") + "\n\n"
    text += ("| event | host calls | CPU time | per host call | wall-clock time |\n|---|---:|---:|---:|---:|\n"
             f"| OnTextboxChanged, 1,000 fields x 100 configurations, 100 composites | {r['host_calls']:.0f} | "
             f"{to_ms(r) * 1000:.1f} us | {r['per_host_call'] * 1e9:.0f} ns | {to_ms(r, 'real_time') * 1000:.1f} us |")
    purges = sorted((args_of(name)["properties"], r) for name, r in runs(page).items() if name.startswith("BM_Purge/"))
    if purges:
        text += ("\n\n| purge | CPU time | wall-clock time | under 50 ms at 20,000 |\n|---:|---:|---:|---|\n" +
                 "\n".join(f"| {n:,} properties | {to_ms(r):.2f} ms | {to_ms(r, 'real_time'):.2f} ms | "
                           f"{check(to_ms(r) < PURGE_LIMIT_MS) if n == 20000 else ''} |" for n, r in purges))
    return text


def plot(page, png):
    data = openings(page)
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5))
    for values, marker, offset in ((1, "o", (-34, 6)), (0, "s", (5, -11))):
        points = sorted((f * c, to_ms(r), r["per_host_call"] * 1e9, f, c)
                        for (v, f, c), r in data.items() if v == values)
        if not points:
            continue
        work = [p[0] for p in points]
        left.loglog(work, [p[1] for p in points], marker, label=SERIES[values])
        right.semilogx(work, [p[2] for p in points], marker, label=SERIES[values])
        top = max(points)
        left.loglog([min(work), top[0]], [top[1] * min(work) / top[0], top[1]], ":", color="grey")
        for w, t, _, f, c in points:
            left.annotate(f"{f}x{c}", (w, t), textcoords="offset points", xytext=offset, fontsize=7)
    left.plot([], [], ":", color="grey", label="linear through the largest run")
    left.set_xlabel("fields x configurations")
    left.set_ylabel("CPU time per opening (ms)")
    left.set_title("Opening the page (DispPropMgr)")
    left.legend(fontsize=8)
    right.set_xlabel("fields x configurations")
    right.set_ylabel("CPU time per host call (ns)")
    right.set_ylim(bottom=0)
    right.set_title("Time per host call made")
    right.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(png, dpi=110)


# ---- parsing ----

def parser_tables(parser, run):
    results = runs(parser)
    per_line = {}
    for name, r in results.items():
        if "per_line" not in r:
            continue
        family, _, size = name.rpartition("/")
        per_line.setdefault(family, {})[int(size)] = r["per_line"] * 1e9
    sizes = sorted({s for v in per_line.values() for s in v})
    lines = [run.heading(f"{run.median()}, CPU time per line"), "",
             "| benchmark | " + " | ".join(f"{s} lines" for s in sizes) + " |",
             "|---|" + "---:|" * len(sizes)]
    for family in sorted(per_line):
        lines.append(f"| {family} | " + " | ".join(
            f"{per_line[family][s]:.1f} ns" if s in per_line[family] else "" for s in sizes) + " |")

    comparisons = [("BM_Parse/{c}", "BM_ViewSplit/{c}", "the view split", PARSE_VS_VIEW_SPLIT_LIMIT),
                   ("BM_Parse/{c}", "BM_Inih/{c}_keep", "inih (2x faster)", PARSE_VS_INIH_HALF),
                   ("BM_Parse/{c}", "BM_PlainSplit/{c}", "the plain line split", PARSE_VS_SPLIT_LIMIT),
                   ("BM_Parse/{c}", "BM_Inih/{c}_keep", "inih", PARSE_VS_INIH_LIMIT),
                   ("BM_ParseLinesOnly/{c}", "BM_ViewSplit/{c}", "the view split (lines only)", None)]
    lines += ["", "| content | parser against | lines | ratio | target | met |", "|---|---|---:|---:|---:|---|"]
    for content in ("mixed", "headers"):
        for mine, theirs, what, limit in comparisons:
            a, b = per_line.get(mine.format(c=content), {}), per_line.get(theirs.format(c=content), {})
            for s in sizes:
                if s in a and s in b:
                    ratio = a[s] / b[s]
                    target, met = ("", "") if limit is None else (f"{limit:g}x", check(ratio <= limit))
                    lines.append(f"| {content} | {what} | {s} | {ratio:.2f}x | {target} | {met} |")

    lines += ["", "| measure | value | target | met |", "|---|---:|---:|---|"]
    mixed = per_line.get("BM_Parse/mixed", {})
    for s in sizes:
        if s in mixed:
            lines.append(f"| mixed, {s} lines, per line | {mixed[s]:.1f} ns | {PARSE_MIXED_NS:g} ns | "
                         f"{check(mixed[s] <= PARSE_MIXED_NS)} |")
    for content in ("mixed", "headers"):
        parse = per_line.get(f"BM_Parse/{content}", {})
        if sizes and sizes[0] in parse and sizes[-1] in parse:
            ratio = parse[sizes[-1]] / parse[sizes[0]]
            lines.append(f"| {content}, per line at {sizes[-1]} against {sizes[0]} lines | {ratio:.2f}x | "
                         f"{PARSE_SCALING_LIMIT:g}x | {check(ratio <= PARSE_SCALING_LIMIT)} |")
    for fields in (4000, 8000):
        check_run, open_run = results.get(f"BM_Check/{fields}"), results.get(f"BM_OpenCheckedPage/{fields}")
        if check_run and open_run:
            ratio = to_ms(check_run) / to_ms(open_run)
            lines.append(f"| `kelvane check` against opening the page, {fields} fields | {ratio:.2f}x "
                         f"({to_ms(check_run):.1f} ms / {to_ms(open_run):.1f} ms) | {CHECK_VS_OPEN_LIMIT:g}x | "
                         f"{check(ratio <= CHECK_VS_OPEN_LIMIT)} |")
    return "\n".join(lines)


# ---- memory ----

def memory_table(memory, run):
    lines = [run.heading("peak resident size, one session of each shape"), "",
             "| fields | configurations | document file | peak resident size | under 64 MiB |",
             "|---:|---:|---:|---:|---|"]
    for m in memory["runs"]:
        mib = m["peak_rss_kib"] / 1024
        lines.append(f"| {m['fields']} | {m['configs']} | {m['document_bytes'] / 1024:.1f} KiB | "
                     f"{mib:.1f} MiB | {check(mib < MEMORY_LIMIT_MIB)} |")
    return "\n".join(lines)


# ---- documents ----

DOCUMENT_SHAPES = [((0, 1000), "1k properties"), ((0, 10000), "10k properties"),
                   ((0, 100000), "100k properties"), ((1, 1000), "1k configurations"),
                   ((1, 10000), "10k configurations"), ((2, 1000), "1,000 fields x 100 configurations")]
DOCUMENT_GROWTH = [((0, 1000), (0, 10000), "1k to 10k properties"),
                   ((0, 10000), (0, 100000), "10k to 100k properties"),
                   ((1, 1000), (1, 10000), "1k to 10k configurations")]


def document_tables(document, run):
    by_shape = {}
    for name, r in runs(document).items():
        family, _, _ = name.partition("/")
        a = args_of(name)
        by_shape.setdefault(family, {})[(a["shape"], a["n"])] = r
    mine, plain = by_shape.get("BM_LoadWrite", {}), by_shape.get("BM_PlainJson", {})
    if not mine:
        return not_measured("BM_LoadWrite")
    lines = [run.heading(f"{run.median()}, CPU time"), "",
             "| document | BM_LoadWrite | BM_PlainJson | against plain | target | met |",
             "|---|---:|---:|---:|---:|---|"]
    for shape, label in DOCUMENT_SHAPES:
        if shape not in mine or shape not in plain:
            continue
        ratio = to_ms(mine[shape]) / to_ms(plain[shape])
        target, met = ("", "")
        if shape[0] == 2:
            target, met = f"{DOCUMENT_VS_PLAIN_LIMIT:g}x", check(ratio <= DOCUMENT_VS_PLAIN_LIMIT)
        lines.append(f"| {label} | {to_ms(mine[shape]):.2f} ms | {to_ms(plain[shape]):.2f} ms | "
                     f"{ratio:.2f}x | {target} | {met} |")
    lines += ["", "| growth | BM_LoadWrite | BM_PlainJson | within 12x |", "|---|---:|---:|---|"]
    for small, large, label in DOCUMENT_GROWTH:
        if small not in mine or large not in mine:
            continue
        ratio = to_ms(mine[large]) / to_ms(mine[small])
        reference = (f"{to_ms(plain[large]) / to_ms(plain[small]):.1f}x"
                     if small in plain and large in plain else "")
        lines.append(f"| {label} | {ratio:.1f}x | {reference} | {check(ratio <= SCALING_LIMIT)} |")
    return "\n".join(lines)


# ---- preview ----

PREVIEW_PAGES = {0: "example", 1000: "1,000 fields x 10 configurations"}


def preview_table(preview, run):
    rows = []
    for name, r in runs(preview).items():
        family, _, _ = name.partition("/")
        rows.append((family, args_of(name)["fields"], r))
    if not rows:
        return not_measured("BM_PreviewEvent")
    lines = [run.heading(f"{run.median()}; the targets are on wall-clock time"), "",
             "| benchmark | page | CPU time | wall-clock time | target | met |", "|---|---|---:|---:|---:|---|"]
    order = {"BM_PreviewEvent": 0, "BM_PreviewRoundTrip": 1}
    for family, fields, r in sorted(rows, key=lambda row: (order.get(row[0], 2), row[1])):
        wall = to_ms(r, "real_time")
        # Through HTTP the benchmark's thread is the client: its CPU time is not the server's.
        cpu = f"{to_ms(r):.2f} ms" + (" (client)" if family == "BM_PreviewRoundTrip" else "")
        limit = PREVIEW_LIMITS_MS.get(fields)
        target, met = ("", "") if limit is None else (f"{limit:g} ms", check(wall < limit))
        lines.append(f"| {family} | {PREVIEW_PAGES.get(fields, f'{fields} fields')} | {cpu} | {wall:.2f} ms | "
                     f"{target} | {met} |")
    return "\n".join(lines)


# ---- the preview in Chromium ----

def kib(n):
    return f"{n / 1024:.1f} KiB" if n >= 1024 else f"{n:.0f} B"


def browser_table(browser, run):
    p = browser["page"]
    key, switch = browser["key_to_composite_ms"], browser["configuration_switch_ms"]
    lines = [run.heading(f"{browser['chromium']}, one run of each measure; wall-clock time in the page"), "",
             f"Page: {p['groups']} groups, {p['fields']} fields, {p['configurations']} configurations, "
             f"{p['controls']} controls; keys typed every {browser['typing_interval_ms']} ms.", "",
             "| measure | median | 90th percentile | largest | samples | target | met |",
             "|---|---:|---:|---:|---:|---:|---|",
             f"| key to composite shown | {key['median']:.0f} ms | {key['p90']:.0f} ms | {key['max']:.0f} ms | "
             f"{key['samples']} | {BROWSER_KEY_MS:g} ms | {check(key['median'] < BROWSER_KEY_MS)} |",
             f"| configuration switch | {switch['median']:.0f} ms | {switch['p90']:.0f} ms | {switch['max']:.0f} ms | "
             f"{switch['samples']} | {BROWSER_SWITCH_MS:g} ms | {check(switch['median'] < BROWSER_SWITCH_MS)} |",
             f"| keys lost, of {browser['keys_typed']} typed at once | {browser['keys_lost']} | | | | 0 | "
             f"{check(browser['keys_lost'] == 0 and browser['burst_shown_in_the_box'])} |",
             "", "| answer | JSON, median | JSON, largest | sent, median | sent, largest |", "|---|---:|---:|---:|---:|"]
    for what, label in (("key", "a key"), ("switch", "a configuration switch")):
        b = browser["bytes"][what]
        lines.append(f"| {label} | {kib(b['json']['median'])} | {kib(b['json']['max'])} | "
                     f"{kib(b['wire']['median'])} | {kib(b['wire']['max'])} |")
    lines.append(f"| the whole state (opening, reconnecting) | {kib(browser['bytes']['whole_state'])} | | | |")
    return "\n".join(lines)


# ---- sessions ----

def sessions_table(sessions, run):
    lines = [run.heading(f"wall-clock time of {sessions['runs']} runs of each, their mean and the fastest"), "",
             "| program | empty script | one-edit session | the session's own work | "
             "empty script, fastest | one-edit session, fastest | own work, fastest |",
             "|---|---:|---:|---:|---:|---:|---:|"]
    for p in sessions["programs"]:
        empty, session = p["empty_ms"], p["session_ms"]
        fast_empty, fast_session = p["empty_fastest_ms"], p["session_fastest_ms"]
        lines.append(f"| {p['program']} | {empty:.1f} ms | {session:.1f} ms | {session - empty:.1f} ms | "
                     f"{fast_empty:.1f} ms | {fast_session:.1f} ms | {fast_session - fast_empty:.1f} ms |")
    if not sessions.get("wine"):
        lines += ["", "Under Wine: not measured in this run (`BENCH_WINE=1` with a `build/windows` build)."]
    return "\n".join(lines)


# ---- the document ----

def not_measured(what):
    return f"Not measured in this run ({what} has no result in it)."


def replace_section(text, name, body):
    pattern = re.compile(rf"(<!-- figures:{name} -->\n).*?(<!-- /figures:{name} -->)", re.S)
    if not pattern.search(text):
        sys.exit(f"bench_report: no <!-- figures:{name} --> section in the document")
    return pattern.sub(lambda m: m.group(1) + body.rstrip() + "\n" + m.group(2), text)


def results_of_run(perf, run):
    """name -> the JSON of docs/perf/NAME.json when it was written in this run."""
    found = {}
    for name in ("parser", "page", "document", "preview", "preview_browser", "memory", "sessions"):
        path = os.path.join(perf, name + ".json")
        if not os.path.exists(path):
            print(f"bench_report: {path} is missing; its figures are left out")
            continue
        result = load(path)
        date = result["context"]["date"] if "context" in result else result["date"]
        if not run.holds(date):
            print(f"bench_report: {path} is of {date}, not of this run; its figures are left out")
            continue
        found[name] = result
    return found


def tables(args):
    run = Run(load(os.path.join(args.perf, "machine.json")))
    if "finished" not in run.run:
        sys.exit("bench_report: the run of machine.json has not ended (bench_report.py end)")
    found = results_of_run(args.perf, run)
    missing = "Not measured in this run."
    sections = {name: missing for name in ("parser", "page", "event", "memory", "documents", "preview",
                                           "preview-browser", "sessions")}
    worst = {}
    if "parser" in found:
        sections["parser"] = parser_tables(found["parser"], run)
    if "page" in found:
        sections["page"], worst = page_tables(found["page"], run)
        sections["event"] = event_table(found["page"], run)
        plot(found["page"], os.path.join(args.perf, "page_scaling.png"))
    if "memory" in found:
        sections["memory"] = memory_table(found["memory"], run)
    if "document" in found:
        sections["documents"] = document_tables(found["document"], run)
    if "preview" in found:
        sections["preview"] = preview_table(found["preview"], run)
    if "preview_browser" in found:
        sections["preview-browser"] = browser_table(found["preview_browser"], run)
    if "sessions" in found:
        sections["sessions"] = sessions_table(found["sessions"], run)

    with open(args.doc) as f:
        text = f.read()
    for name, body in sections.items():
        text = replace_section(text, name, body)
    with open(args.doc, "w") as f:
        f.write(text)
    print(f"bench_report: refreshed {args.doc}" +
          (f" and {os.path.join(args.perf, 'page_scaling.png')}" if "page" in found else ""))
    for values, ratio in sorted(worst.items(), reverse=True):
        print(f"  {SERIES[values]}: 10x the work took at most {ratio:.1f}x the time")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    start = commands.add_parser("begin", help="record the machine and its load as the run starts")
    start.add_argument("--repetitions", type=int, required=True)
    start.add_argument("--filter", default="", help="the benchmark filter of a trial run")
    start.add_argument("--quick", action="store_true", help="a trial run with short measurements")
    stop = commands.add_parser("end", help="record the load as the run ends")
    fill = commands.add_parser("tables", help="the plot and the tables of the document")
    fill.add_argument("--doc", required=True)
    for command in (start, stop, fill):
        command.add_argument("--perf", required=True, help="the folder of the JSON files and the plot")
    args = parser.parse_args()
    {"begin": begin, "end": end, "tables": tables}[args.command](args)


if __name__ == "__main__":
    main()
