#!/usr/bin/env python3
"""Compare two runs of a benchmark saved with --json, or tabulate one.

    bench/compare_runs.py before.json after.json
    bench/compare_runs.py --table run.json

The first form prints, per ratio, the judged figure of both runs (paired,
or the fastest repetitions where no paired one was measured), the change
and the verdict against its target, and both runs' load averages.  It exits
1 when a ratio that met its target in the first run misses it in the
second, 2 on unreadable input; a ratio present in only one run is listed,
not judged.  The second form prints the run's ratios as the Markdown table
rows of bench/README.md.
"""
import json
import sys


def fail(text):
    print(f"compare_runs: {text}", file=sys.stderr)
    sys.exit(2)


def load(path):
    try:
        with open(path, encoding="utf-8") as f:
            run = json.load(f)
    except (OSError, ValueError) as e:
        fail(f"cannot read {path}: {e}")
    if not isinstance(run.get("ratios"), dict):
        fail(f"{path} has no 'ratios' object (not a --json report)")
    return run


def figure(entry):
    """The judged figure: paired when measured, else the fastest repetition."""
    if entry is None:
        return None
    return entry.get("paired") if entry.get("paired") is not None else entry.get("fastest")


def show(value, goal):
    if value is None:
        return "-"
    return f"{value * 100:.1f}%" if goal == "within" else f"{value:.2f}x"


def load_text(run):
    state = run.get("machine_before") or {}
    avg = state.get("load_average")
    return "unknown" if not avg else f"{avg[0]:.2f} on {state.get('cpus', '?')} CPUs"


def target_text(entry):
    goal = entry.get("goal")
    if goal == "at_least":
        return f"at least {entry['target']:.2f}x"
    if goal == "within":
        return f"within {entry['target'] * 100:.0f}%"
    return ""


def table(run):
    name = run.get("benchmark", "?")
    for key in sorted(run["ratios"]):
        e = run["ratios"][key]
        goal = e.get("goal", "information")
        verdict = ""
        if "met" in e and e["met"] is not None:
            verdict = " (met)" if e["met"] else " (**not met**)"
        print(f"| {name} | {e.get('what', key)} (`{key}`) | {target_text(e)} | "
              f"{show(e.get('paired'), goal)}{verdict} | {show(e.get('fastest'), goal)} |")
    return 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--table":
        return table(load(argv[2]))
    if len(argv) != 3 or argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if len(argv) == 2 else 2
    old, new = load(argv[1]), load(argv[2])
    print(f"{old.get('benchmark', '?')}: load {load_text(old)} -> {load_text(new)}")
    regressions = 0
    for key in sorted(set(old["ratios"]) | set(new["ratios"])):
        a, b = old["ratios"].get(key), new["ratios"].get(key)
        goal = (b or a).get("goal", "information")
        va, vb = figure(a), figure(b)
        change = ""
        if va is not None and vb is not None and va != 0:
            change = f"{(vb / va - 1) * 100:+.1f}%"
        verdict = ""
        if b is not None and "met" in b:
            verdict = "met" if b["met"] else "NOT met"
            if a is not None and a.get("met") and not b["met"]:
                verdict += " (was met)"
                regressions += 1
        print(f"  {key:<44} {show(va, goal):>8} -> {show(vb, goal):>8} {change:>8}  {verdict}")
    return 1 if regressions else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
