#!/usr/bin/env python3
"""Turns the results of bench/run into the table it prints and the report
docs/PERFORMANCE.md. Standard library only."""

import argparse
import datetime
import glob
import json
import os
import platform
import re
import statistics
import subprocess
import sys

GOAL_OVERHEAD = 1.2
GOAL_REAL_START = 1.02
GOAL_PARSE = 2.0
# A cost that grows linearly keeps its cost per item from one size to the
# next ten times larger; a quadratic one multiplies it by ten. Between the
# two, this leaves room for caches and the memory allocator.
GOAL_LINEAR = 2.0
# Class-data sharing: a start with the archive against `java -cp` without
# one, for runtimes before 24 (an archive of the loaded classes) and from 24
# on (with ahead-of-time class linking); the start that makes the archive
# against a plain one.
GOAL_CDS = 1.3
GOAL_CDS_LINKED = 1.8
GOAL_CDS_FIRST = 3.0
# A start from the Finder, whose standard error the launcher logs through a
# process of its own, against the same start with standard error in a file:
# milliseconds more.
GOAL_FINDER_MS = 1.5


def ms(seconds):
    return seconds * 1e3


def load_json(path):
    with open(path, encoding="utf-8") as f:
        return json.load(f)


# --- Whole-process runs (hyperfine) ------------------------------------------


def rounds_of(results, name):
    """Per command: every run's wall time and each round's median, over the
    rounds NAME-1.json, NAME-2.json, ... of one hyperfine comparison."""
    paths = sorted(glob.glob(os.path.join(results, name + "-*.json")),
                   key=lambda p: int(re.search(r"-(\d+)\.json$", p).group(1)))
    commands = {}
    for path in paths:
        for result in load_json(path)["results"]:
            entry = commands.setdefault(result["command"], {
                "times": [], "round_medians": [], "user": [], "system": []})
            entry["times"].extend(result["times"])
            entry["round_medians"].append(statistics.median(result["times"]))
            entry["user"].append(result["user"])
            entry["system"].append(result["system"])
    return commands


def median_ci(values):
    """The median and a distribution-free 95% confidence interval for it,
    from the order statistics."""
    v = sorted(values)
    n = len(v)
    k = max(0, int((n - 1.96 * n ** 0.5) / 2))
    return statistics.median(v), v[k], v[n - 1 - k]


def verdict(ci, goal, below):
    """"yes" when the whole interval meets the goal, "no" when none of it
    does, otherwise the side of the median, marked as within the noise.
    `below`: the goal is to stay at or below `goal` (else: to exceed it)."""
    median, lo, hi = ci
    meets = (lambda x: x <= goal) if below else (lambda x: x > goal)
    if meets(lo) and meets(hi):
        return "yes"
    if not meets(lo) and not meets(hi):
        return "**no**"
    return ("yes" if meets(median) else "**no**") + ", within the noise"


def quartiles(values, digits=2):
    q = statistics.quantiles(values, n=4)
    return "%.*f-%.*f" % (digits, q[0], digits, q[2])


def summary(entry):
    times = entry["times"]
    return {
        "median": statistics.median(times),
        "min": min(times),
        "q1": statistics.quantiles(times, n=4)[0],
        "q3": statistics.quantiles(times, n=4)[2],
        "runs": len(times),
        "cpu": statistics.mean(entry["user"]) + statistics.mean(entry["system"]),
    }


def round_ratios(entry, base):
    return [a / b for a, b in zip(entry["round_medians"], base["round_medians"])]


def scale_series(results, kind):
    rows = []
    for path in glob.glob(os.path.join(results, "scale-%s-*.json" % kind)):
        count = int(re.search(r"-(\d+)\.json$", path).group(1))
        result = load_json(path)["results"][0]
        rows.append((count, statistics.median(result["times"]),
                     len(result["times"])))
    return sorted(rows)


def per_item_costs(rows):
    """For each size: the cost per item above the smallest size's cost (the
    fixed cost), and its growth from the size before. A linear cost keeps
    the cost per item; a quadratic one multiplies it by the step in size.
    The growth is left out where the previous size added less than the fixed
    cost: there the noise of the fixed cost swamps the per-item cost."""
    (n0, t0) = rows[0][:2]
    out = []
    previous = None
    for row in rows[1:]:
        n, t = row[:2]
        per_item = (t - t0) / (n - n0)
        growth = None
        if previous is not None and previous[1] >= t0 and previous[0] > 0:
            growth = per_item / previous[0]
        out.append((n, per_item, growth))
        previous = (per_item, t - t0)
    return out


def version_key(version):
    return [int(part) if part.isdigit() else 0 for part in re.split(r"[.+-]", version)]


def cds_results(results):
    """Per runtime version: the class-data figures of bench/run."""
    versions = {re.match(r"cds-use-(.+)-\d+\.json$", os.path.basename(p)).group(1)
                for p in glob.glob(os.path.join(results, "cds-use-*-*.json"))}
    out = []
    for version in sorted(versions, key=version_key):
        use = rounds_of(results, "cds-use-" + version)
        first = rounds_of(results, "cds-first-" + version)
        (plain_cmd,) = [c for c in use if "/bin/java " in c]
        (bundle_cmd,) = [c for c in use if c != plain_cmd]
        with open(os.path.join(results, "cds-size-%s.txt" % version), encoding="utf-8") as f:
            sizes = [int(line) for line in f if line.strip()]
        copy_first = load_json(os.path.join(results, "cds-copy-first-%s.json" % version))
        copy_second = load_json(os.path.join(results, "cds-copy-second-%s.json" % version))
        major = int(version_key(version)[0])
        out.append({
            "version": version,
            "goal": GOAL_CDS_LINKED if major >= 24 else GOAL_CDS,
            "rounds": len(use[plain_cmd]["round_medians"]),
            "plain": summary(use[plain_cmd]),
            "with": summary(use[bundle_cmd]),
            # How many times faster the start with the archive is.
            "speedup": median_ci(round_ratios(use[plain_cmd], use[bundle_cmd])),
            "first": summary(first[bundle_cmd]),
            "first_plain": summary(first[plain_cmd]),
            "first_ratio": median_ci(round_ratios(first[bundle_cmd], first[plain_cmd])),
            "size": max(sizes) if sizes else 0,
            "copy_first": statistics.median(copy_first["results"][0]["times"]),
            "copy_second": statistics.median(copy_second["results"][0]["times"]),
        })
    return out


def waiter_results(results):
    """Per runtime version: the waiter's dump and proof, side by side, and
    their peak resident sizes."""
    out = []
    for path in glob.glob(os.path.join(results, "cds-waiter-rss-*.txt")):
        version = re.match(r"cds-waiter-rss-(.+)\.txt$", os.path.basename(path)).group(1)
        runs = rounds_of(results, "cds-waiter-" + version)
        (dump_cmd,) = [c for c in runs if "-Xshare:dump" in c]
        (proof_cmd,) = [c for c in runs if c != dump_cmd]
        peaks = {}
        with open(path, encoding="utf-8") as f:
            for line in f:
                label, kib = line.split()[:2]
                peaks.setdefault(label, []).append(int(kib))
        out.append({
            "version": version,
            "rounds": len(runs[dump_cmd]["round_medians"]),
            "dump": summary(runs[dump_cmd]),
            "proof": summary(runs[proof_cmd]),
            "ratio": median_ci(round_ratios(runs[proof_cmd], runs[dump_cmd])),
            "dump_mib": statistics.median(peaks["dump"]) / 1024.0,
            "proof_mib": statistics.median(peaks["proof"]) / 1024.0,
        })
    return sorted(out, key=lambda r: version_key(r["version"]))


def paired_cost(results, prefix, marker):
    """Per size N of the rounds PREFIX-N: the command whose path holds
    MARKER against the other, the difference of the rounds' medians."""
    counts = {int(re.match(re.escape(prefix) + r"-(\d+)-\d+\.json$",
                           os.path.basename(p)).group(1))
              for p in glob.glob(os.path.join(results, prefix + "-*-*.json"))}
    out = []
    for count in sorted(counts):
        runs = rounds_of(results, "%s-%d" % (prefix, count))
        (with_cmd,) = [c for c in runs if marker in c]
        (plain_cmd,) = [c for c in runs if c != with_cmd]
        extra = [ms(a - b) for a, b in zip(runs[with_cmd]["round_medians"],
                                            runs[plain_cmd]["round_medians"])]
        out.append({
            "count": count,
            "rounds": len(extra),
            "plain": summary(runs[plain_cmd]),
            "key": summary(runs[with_cmd]),
            "extra": median_ci(extra),
            "per_jar_us": statistics.median(extra) * 1e3 / count,
        })
    return out


def key_results(results):
    """Per class path size: the starts with and without the class-data key."""
    return paired_cost(results, "key", "/key/Key.app/")


# --- In process (Google Benchmark) ---------------------------------------------


def benchmark_medians(path):
    """{(family, size): (real, cpu)} in microseconds, medians of the
    repetitions; and {(family, size): {counter: median}}."""
    data = load_json(path)
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
    out = {}
    counters = {}
    known = {"name", "family_index", "per_family_instance_index", "run_name", "run_type",
             "repetitions", "threads", "aggregate_name", "aggregate_unit", "iterations",
             "real_time", "cpu_time", "time_unit", "items_per_second",
             "repetition_index"}
    for b in data["benchmarks"]:
        if b.get("run_type") != "aggregate" or b.get("aggregate_name") != "median":
            continue
        family, size = b["run_name"].split("/")[:2]
        factor = scale[b["time_unit"]]
        out[(family, int(size))] = (b["real_time"] * factor,
                                    b["cpu_time"] * factor)
        counters[(family, int(size))] = {k: v for k, v in b.items() if k not in known}
    cvs = [b["cpu_time"] for b in data["benchmarks"]
           if b.get("run_type") == "aggregate" and b.get("aggregate_name") == "cv"]
    return out, counters, cvs


def family(medians, name):
    return sorted((size, cpu) for (fam, size), (_, cpu) in medians.items()
                  if fam == name)


# --- Machine -------------------------------------------------------------------


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    try:
        return subprocess.run(["sysctl", "-n", "machdep.cpu.brand_string"],
                              capture_output=True, text=True,
                              check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return platform.processor() or "unknown"


def load_average():
    try:
        return " ".join("%.2f" % v for v in os.getloadavg())
    except OSError:
        return "unknown"


# --- Report --------------------------------------------------------------------


def fmt_ms(seconds):
    return "%.2f" % ms(seconds)


def fmt_us(us):
    if us >= 1000:
        return "{:,.0f}".format(us)
    return "%.1f" % us


def fmt_count(n):
    return "{:,}".format(n)


def yes_no(ok):
    return "yes" if ok else "**no**"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |",
             "|" + "|".join("---:" if i else "---" for i in range(len(header))) + "|"]
    lines += ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join(lines)


def verdict_word(v):
    return v.replace("**no**", "missed").replace("yes", "met")


def notes(f):
    """What the figures say, and what stands in the way of a goal that is
    missed. `f` holds main()'s figures."""
    out = []
    limit, streams, launcher = f["limit"], f["streams"], f["launcher"]
    faults = f["faults"]
    medians = f["medians"]
    own_us = sum(medians.get((name, 10), (0, 0))[1] for name in (
        "BM_CfgFileLoadExpand", "BM_JvmInitFromConfigFile", "BM_JvmLaunch"))
    extra_ms = ms(launcher["median"] - limit["median"])
    runtime_ms = ms(streams["median"] - limit["median"])
    rest_ms = ms(launcher["median"] - streams["median"])
    met = f["overhead_met"]
    text = (
        "- **Launcher overhead** (%s: %.2fx per round). The launcher takes %.2f ms more"
        " than the"
        " floor. Its own work after `main` is small: reading and expanding the 10-line"
        " configuration, composing the command line and launching through the flat"
        " interface take %.0f µs together in process (tables below). The C++ runtime"
        " alone, in the floor program written in C++ with the standard streams, costs"
        " %.2f ms (%.2fx the floor; %.0f pages mapped against %.0f); the launcher takes"
        " %.2f ms more than that program (%.0f pages)." % (
            verdict_word(f["overhead_verdict"]), f["overhead_paired"], extra_ms, own_us,
            runtime_ms,
            f["streams_ratio"], faults["limit-streams"], faults["limit"], rest_ms,
            faults["launcher"]))
    if not met:
        text += (
            " What stands in the way is the start of a C++ process on this machine, where"
            " every page the kernel maps for a process costs tens of microseconds (a"
            " virtual machine): the standard streams and their locale, on which the"
            " logging (`std::cout`, `std::cerr`) and the message builder `tstrings::any`"
            " are built (the library loader takes its path as one), and the dynamic"
            " loader's relocation of a larger executable. Optimised Linux builds already"
            " link the C++ runtime statically and drop the sections nothing refers to,"
            " which removed the largest part, the loading of the shared libstdc++ (with it"
            " the launcher took about twice the floor's time); macOS keeps its C++ runtime"
            " in the system's shared cache.")
    out.append(text)

    start_met = f["start_met"]
    java_ms = ms(f["java"]["median"])
    text = (
        "- **Real start** (%s: %.3fx per round). Per round the launcher's start differs"
        " from `java`'s by %+.1f%% (%+.1f ms at `java`'s median of %.0f ms), while"
        " `java`'s own starts spread over %.1f ms between their quartiles; the quartiles"
        " of the per-round ratios are %.3f-%.3f. The stub pays for a shell, a `dirname`"
        " process and the `exec`: per round it takes %.1f%% (%.1f ms) longer than the"
        " launcher, and it was slower in %d of %d rounds." % (
            verdict_word(f["start_verdict"]), f["start_paired"],
            100 * (f["start_paired"] - 1), (f["start_paired"] - 1) * java_ms, java_ms,
            ms(f["java"]["q3"] - f["java"]["q1"]),
            statistics.quantiles(f["start_rounds"], n=4)[0],
            statistics.quantiles(f["start_rounds"], n=4)[2],
            100 * (f["stub_paired"] - 1), (f["stub_paired"] - 1) * ms(f["ours"]["median"]),
            f["stub_wins"], len(f["stub_rounds"])))
    text += (
        " The launcher's own cost can be measured more precisely without the JVM: with"
        " the double it takes %.2f ms more than the floor, a C program that loads `libjli`"
        " as `java` does, which is %.1f%% of `java`'s start here." % (
            extra_ms, 100 * extra_ms / java_ms))
    if not (f["start_verdict"] == "yes" and f["stub_verdict"] == "yes"):
        text += (
            " What stands in the way of a firm answer from the real starts is the JVM's"
            " own start-up, whose run-to-run spread on this machine is many times the"
            " differences asked about.")
    out.append(text)

    mixed = f["series"]["mixed"]
    if mixed and mixed[-1][0] in f["load_expand"]:
        n, t, _ = mixed[-1]
        out.append(
            "- **Scale**. A launch with a %s-line configuration takes %.0f ms, and the"
            " kernel maps %s pages for it. The values are held as strings in the"
            " configuration, then in the `Jvm`'s arguments, in the copy that the flat"
            " launch interface exports, and in the launch buffer handed to the runtime;"
            " the configuration is gone before the launch, the other three live at once."
            " In process, where the memory is reused, parsing and expanding the same file"
            " takes %s µs." % (
                fmt_count(n), ms(t), "%.0f" % faults.get("mixed-%d" % n, float("nan")),
                fmt_us(f["load_expand"].get(n, float("nan")))))
    worst = max(f["parse_ratios"].values())
    out.append(
        "- **Parsing against `std::getline`** (%s: %.2fx at worst). `CfgFile::load` reads"
        " the file in 64 KiB chunks and finds the line ends with `memchr`, which is faster"
        " than `std::getline`; what it adds is a string of its own for every recognised"
        " value in the configuration's maps." % (
            "met" if worst <= GOAL_PARSE else "missed", worst))
    for r in f["cds"]:
        major = int(version_key(r["version"])[0])
        out.append(
            "- **Class-data sharing, Java %s** (%s: %.2fx per round, goal %.1fx)."
            " The archive spares the loading, verifying%s of the classes: %s ms"
            " against %s ms. %s The first start only writes the class list (%.2fx a"
            " plain start); the archive of %.1f MiB is made after it, in the background."
            " After `cp -R` the copy's first start is a first start again (%s ms), and"
            " its next ones map an archive of its own (%s ms)." % (
                r["version"], verdict_word(r["verdict"]),
                r["speedup"][0], r["goal"],
                " and, from Java 24 on, the linking" if major >= 24 else " and parsing",
                fmt_ms(r["with"]["median"]), fmt_ms(r["plain"]["median"]),
                "What is left is the JVM's own start and the interpreter running the"
                " application's first code, which no archive of classes shortens; from"
                " Java 24 on the archive also holds the classes linked ahead of time."
                if major < 24 else
                "Ahead-of-time linking spares the resolution of the classes' references"
                " too.",
                r["first_ratio"][0], r["size"] / 1048576.0, fmt_ms(r["copy_first"]),
                fmt_ms(r["copy_second"])))
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--compiler", default="unknown")
    parser.add_argument("--java", default="unknown")
    parser.add_argument("--quick", default="false")
    parser.add_argument("--load-before", default="unknown")
    # For writing the report again from the results of an earlier run.
    parser.add_argument("--load-after", default=None)
    parser.add_argument("--date", default=None)
    args = parser.parse_args()
    results = args.results

    # Launcher overhead.
    overhead = rounds_of(results, "overhead")
    (streams_cmd,) = [c for c in overhead if "wrapkin_bench_limit_streams" in c]
    (limit_cmd,) = [c for c in overhead
                    if "wrapkin_bench_limit" in c and c != streams_cmd]
    (launcher_cmd,) = [c for c in overhead if c not in (limit_cmd, streams_cmd)]
    limit = summary(overhead[limit_cmd])
    streams = summary(overhead[streams_cmd])
    launcher = summary(overhead[launcher_cmd])
    overhead_ratio = launcher["median"] / limit["median"]
    streams_ratio = streams["median"] / limit["median"]
    overhead_rounds = round_ratios(overhead[launcher_cmd], overhead[limit_cmd])

    # Real start.
    start = rounds_of(results, "start")
    (java_cmd,) = [c for c in start if "/bin/java " in c]
    (stub_cmd,) = [c for c in start if c.endswith("hello-stub")]
    (ours_cmd,) = [c for c in start if c not in (java_cmd, stub_cmd)]
    java = summary(start[java_cmd])
    ours = summary(start[ours_cmd])
    stub = summary(start[stub_cmd])
    start_ratio = ours["median"] / java["median"]
    stub_ratio = stub["median"] / java["median"]
    start_rounds = round_ratios(start[ours_cmd], start[java_cmd])
    stub_rounds = round_ratios(start[stub_cmd], start[ours_cmd])
    # The goals are judged on paired figures: the median over the rounds of
    # each round's ratio. A shared machine's speed drifts between rounds,
    # and the JVM's start varies by tens of milliseconds, which moves the
    # medians over all runs by more than the differences asked about.
    overhead_ci = median_ci(overhead_rounds)
    start_ci = median_ci(start_rounds)
    stub_ci = median_ci(stub_rounds)
    overhead_paired, start_paired, stub_paired = overhead_ci[0], start_ci[0], stub_ci[0]
    stub_wins = sum(1 for r in stub_rounds if r > 1)
    overhead_verdict = verdict(overhead_ci, GOAL_OVERHEAD, True)
    start_verdict = verdict(start_ci, GOAL_REAL_START, True)
    stub_verdict = verdict(stub_ci, 1.0, False)
    overhead_met = overhead_verdict.startswith("yes")
    start_met = start_verdict.startswith("yes")
    stub_met = stub_verdict.startswith("yes")

    # Class-data sharing.
    cds = cds_results(results)
    for r in cds:
        r["verdict"] = verdict(r["speedup"], r["goal"], False)
        r["first_verdict"] = verdict(r["first_ratio"], GOAL_CDS_FIRST, True)

    key = key_results(results)
    waiter = waiter_results(results)
    record = paired_cost(results, "record", "/all/Rec-all-")

    # One size only: the same start with standard error in a file ("plain")
    # and on the null device.
    (finder,) = paired_cost(results, "finder", " /dev/null ")
    finder_verdict = verdict(finder["extra"], GOAL_FINDER_MS, True)

    # Scale, whole process.
    series = {kind: scale_series(results, kind)
              for kind in ("mixed", "options", "macros")}

    # In process.
    medians, counters, cvs = benchmark_medians(os.path.join(results, "inprocess.json"))
    paired = {size: c for (fam, size), c in counters.items()
              if fam == "BM_LoadAgainstGetline"}
    getline = {n: c["getline_us"] for n, c in paired.items()}
    load = {n: c["load_us"] for n, c in paired.items()}
    parse_ratios = {n: c["ratio"] for n, c in paired.items()}
    load_expand = dict(family(medians, "BM_CfgFileLoadExpand"))

    # Memory.
    rss, faults = {}, {}
    with open(os.path.join(results, "rss.txt"), encoding="utf-8") as f:
        for line in f:
            label, kib, minflt = line.split()
            rss.setdefault(label, []).append(int(kib))
            faults.setdefault(label, []).append(int(minflt))
    rss = {label: statistics.median(v) for label, v in rss.items()}
    faults = {label: statistics.median(v) for label, v in faults.items()}

    # Linearity: the worst growth of the cost per item from one size to the
    # next, ignoring the smallest sizes where the fixed cost of a start
    # swamps the per-item cost and its noise.
    def worst_growth(rows):
        ratios = [g for _, _, g in per_item_costs(rows) if g is not None]
        return max(ratios) if ratios else None

    whole_growth = {kind: worst_growth([(n, t) for n, t, _ in rows])
                    for kind, rows in series.items()}
    inproc_rows = {name: family(medians, name) for name in (
        "BM_CfgFileLoadExpand", "BM_ExpandMacros", "BM_Replace",
        "BM_JvmInitFromConfigFile", "BM_JvmLaunch")}
    inproc_rows["BM_CfgFileLoad"] = sorted(load.items())
    inproc_growth = {name: worst_growth(rows) for name, rows in inproc_rows.items()}
    growths = [g for g in list(whole_growth.values()) + list(inproc_growth.values())
               if g is not None]
    linear_ok = bool(growths) and max(growths) <= GOAL_LINEAR

    parse_worst = max(parse_ratios.values())
    largest_lines = max(parse_ratios)

    mib = 1024.0
    mixed_rss = sorted((int(label.split("-")[1]), kib) for label, kib in rss.items()
                       if label.startswith("mixed-"))

    # --- Table on standard output --------------------------------------------
    goals = [
        ("launcher / floor <= %.2f" % GOAL_OVERHEAD,
         "%.2f [%.2f-%.2f] (all runs %.2f: %s / %s ms)" % (
             overhead_ci + (overhead_ratio, fmt_ms(launcher["median"]),
                            fmt_ms(limit["median"]))), overhead_verdict),
        ("Finder start - start with stderr in a file <= %.1f ms" % GOAL_FINDER_MS,
         "%.2f [%.2f-%.2f] ms (all runs: %s / %s ms)" % (
             finder["extra"] + (fmt_ms(finder["key"]["median"]),
                                fmt_ms(finder["plain"]["median"]))), finder_verdict),
        ("launcher / java -cp <= %.2f" % GOAL_REAL_START,
         "%.3f [%.3f-%.3f] (all runs %.3f: %s / %s ms)" % (
             start_ci + (start_ratio, fmt_ms(ours["median"]), fmt_ms(java["median"]))),
         start_verdict),
        ("stub / launcher > 1",
         "%.3f [%.3f-%.3f] (launcher faster in %d of %d rounds)" % (
             stub_ci + (stub_wins, len(stub_rounds))), stub_verdict),
        ("cost per item grows < %.1fx per decade" % GOAL_LINEAR,
         "worst %.2f" % max(growths) if growths else "n/a", yes_no(linear_ok)),
        ("CfgFile::load / std::getline <= %.1f" % GOAL_PARSE,
         "worst %.2f" % parse_worst, yes_no(parse_worst <= GOAL_PARSE)),
    ]
    for r in cds:
        goals.append(("Java %s: archive, java -cp / bundle >= %.1f" % (r["version"], r["goal"]),
                      "%.2f [%.2f-%.2f]" % r["speedup"], r["verdict"]))
        goals.append(("Java %s: first start / plain <= %.0f" % (r["version"], GOAL_CDS_FIRST),
                      "%.2f [%.2f-%.2f]" % r["first_ratio"], r["first_verdict"]))
    width = max(len(g[0]) for g in goals) + 2
    vwidth = max(len(g[1]) for g in goals) + 2
    print("%s%s%s" % ("Goal".ljust(width),
                      "Measured: per-round median [95% interval]".ljust(vwidth), "Met"))
    for name, value, ok in goals:
        print("%s%s%s" % (name.ljust(width), value.ljust(vwidth), ok.replace("*", "")))
    print("peak RSS: floor %.1f MiB, launcher %.1f MiB, with %s lines %.1f MiB" % (
        rss["limit"] / mib, rss["launcher"] / mib, fmt_count(mixed_rss[-1][0]),
        mixed_rss[-1][1] / mib))

    # --- docs/PERFORMANCE.md --------------------------------------------------
    now = args.date or datetime.datetime.now(datetime.timezone.utc).strftime(
        "%Y-%m-%d %H:%M UTC")
    md = []
    md.append("# Performance\n")
    md.append("What the launcher costs at start-up, measured by `bench/run` (one command"
              " on a clean clone; it installs what is missing, builds the `bench` preset"
              " and writes this file). Nothing here runs in CI: timings need a quiet"
              " machine. Figures are medians unless marked otherwise.%s\n" % (
                  " **Quick run: too few runs to rely on.**" if args.quick == "true" else ""))

    md.append("## Goals\n")
    md.append("The ratios are judged per round: each round runs the commands in turn,"
              " the ratio of their medians is taken within the round, and the goal is"
              " judged on the median of those ratios. On a shared machine whose speed"
              " drifts, and with a JVM whose start varies by tens of milliseconds, the"
              " medians over all runs move by more than the differences in question; both"
              " are shown. In brackets: a 95% confidence interval for the median of the"
              " per-round ratios (from its order statistics). A goal is met when the whole"
              " interval meets it; \"within the noise\" marks an interval that straddles"
              " the goal, judged by the median.\n")
    md.append(table(["Goal", "Measured", "Met"], [
        ["Launcher overhead: launcher with the runtime double within %.1fx of the floor"
         " program (`dlopen` + `dlsym` + call of the same double)" % GOAL_OVERHEAD,
         "%.2fx per round [%.2f-%.2f]; %.2fx over all runs (%s ms against %s ms)" % (
             overhead_ci + (overhead_ratio, fmt_ms(launcher["median"]),
                            fmt_ms(limit["median"]))),
         overhead_verdict],
        ["Start from the Finder: the launcher with the runtime double, standard error on"
         " the null device (logged), within %.1f ms of the same start with standard"
         " error in a file" % GOAL_FINDER_MS,
         "+%.2f ms per round [%.2f-%.2f]; %s ms against %s ms over all runs" % (
             finder["extra"] + (fmt_ms(finder["key"]["median"]),
                                fmt_ms(finder["plain"]["median"]))),
         finder_verdict],
        ["Real start: hello-world bundle within %.2fx of `java -cp`" % GOAL_REAL_START,
         "%.3fx per round [%.3f-%.3f]; %.3fx over all runs (%s ms against %s ms)" % (
             start_ci + (start_ratio, fmt_ms(ours["median"]), fmt_ms(java["median"]))),
         start_verdict],
        ["Real start: faster than a shell stub that `exec`s java",
         "stub / launcher %.3fx per round [%.3f-%.3f], launcher faster in %d of %d"
         " rounds; over all runs %s ms against %s ms" % (
             stub_ci + (stub_wins, len(stub_rounds), fmt_ms(ours["median"]),
                        fmt_ms(stub["median"]))),
         stub_verdict],
        ["Scale: cost grows linearly (cost per item grows less than %.0fx from one size"
         " to the next, ten times larger)" % GOAL_LINEAR,
         "worst %.2fx" % max(growths) if growths else "n/a", yes_no(linear_ok)],
        ["`CfgFile::load` within %.0fx of reading the file with `std::getline`" % GOAL_PARSE,
         "worst %.2fx (%.2fx at %s lines)" % (parse_worst, parse_ratios[largest_lines],
                                              fmt_count(largest_lines)),
         yes_no(parse_worst <= GOAL_PARSE)],
    ] + [
        row for r in cds for row in (
            ["Class-data sharing, Java %s: a bundle made with `--cds` starts at least %.1fx"
             " faster than `java -cp` without an archive" % (r["version"], r["goal"]),
             "%.2fx per round [%.2f-%.2f]; %s ms against %s ms" % (
                 r["speedup"] + (fmt_ms(r["with"]["median"]), fmt_ms(r["plain"]["median"]))),
             r["verdict"]],
            ["Class-data sharing, Java %s: the start that makes the archive takes at most"
             " %.0fx a plain start" % (r["version"], GOAL_CDS_FIRST),
             "%.2fx per round [%.2f-%.2f]; %s ms against %s ms" % (
                 r["first_ratio"] + (fmt_ms(r["first"]["median"]),
                                     fmt_ms(r["first_plain"]["median"]))),
             r["first_verdict"]],
        )
    ] + [
        ["Memory: peak resident size (no goal set)",
         "floor %.1f MiB, launcher %.1f MiB; %.1f MiB with %s lines" % (
             rss["limit"] / mib, rss["launcher"] / mib, mixed_rss[-1][1] / mib,
             fmt_count(mixed_rss[-1][0])), "-"],
    ]))
    md.append("")

    md.append("## Launcher overhead\n")
    md.append("The sample bundle's configuration (class path and main class) with a runtime"
              " whose `libjli` is the tests' double (`test/doubles/FakeJli.cpp`; its"
              " `JLI_Launch` returns at once), against the floor: `bench/limit.c`, a C"
              " program that only opens the same library file, looks up `JLI_Launch` and"
              " calls it. A third program does the same in C++ with the standard streams,"
              " linked like the launcher, to show what the language's runtime costs by"
              " itself. All run as whole processes under hyperfine, their standard error in a file"
              " as from a script (on the null device, as from the Finder, the launcher would also keep a log), %d rounds of %d runs"
              " each, the order of the commands rotated every round. Page faults (the pages"
              " the kernel mapped) are from the memory runs below.\n" % (
                  len(overhead[limit_cmd]["round_medians"]),
                  len(overhead[limit_cmd]["times"]) // len(overhead[limit_cmd]["round_medians"])))
    def row(label, x, ratio):
        return [label, fmt_ms(x["median"]), fmt_ms(x["min"]),
                "%s-%s" % (fmt_ms(x["q1"]), fmt_ms(x["q3"])), fmt_ms(x["cpu"]),
                "%.0f" % faults[key_of[label]], ratio]
    key_of = {"floor: `bench/limit.c`": "limit",
              "floor in C++ with `<iostream>`: `bench/LimitStreams.cpp`": "limit-streams",
              "launcher `Hello.app/Contents/MacOS/Hello`": "launcher"}
    md.append(table(["Command", "Median ms", "Min ms", "Quartiles ms", "CPU ms (user+sys)",
                     "Page faults", "Ratio to floor"], [
        row("floor: `bench/limit.c`", limit, "1.00"),
        row("floor in C++ with `<iostream>`: `bench/LimitStreams.cpp`", streams,
            "%.2f" % streams_ratio),
        row("launcher `Hello.app/Contents/MacOS/Hello`", launcher, "%.2f" % overhead_ratio),
    ]))
    md.append("\nLauncher / floor per round: median %.2f, quartiles %s, extremes %.2f and"
              " %.2f.\n" % (
                  statistics.median(overhead_rounds), quartiles(overhead_rounds),
                  min(overhead_rounds), max(overhead_rounds)))

    md.append("## A start from the Finder\n")
    md.append("The launcher of the overhead runs, started by `bench/StderrTo.c` with its"
              " standard error appended to a file, as from a script, and on the null"
              " device, as the Finder and the Dock start it; standard output is the null"
              " device in both. On the null device the launcher makes a log of this"
              " start, prunes the older ones and starts the process that keeps the log"
              " (`StderrLog`); that process ends after the start, on its own. %d rounds"
              " of %d runs, the order rotated every round; the cost is the difference of"
              " the rounds' medians, with its 95%% confidence interval.\n" % (
                  finder["rounds"],
                  finder["plain"]["runs"] // finder["rounds"]))
    md.append(table(["Standard error", "Median ms", "Min ms", "Quartiles ms",
                     "CPU ms (user+sys)", "Per round ms"], [
        ["in a file", fmt_ms(finder["plain"]["median"]), fmt_ms(finder["plain"]["min"]),
         "%s-%s" % (fmt_ms(finder["plain"]["q1"]), fmt_ms(finder["plain"]["q3"])),
         fmt_ms(finder["plain"]["cpu"]), ""],
        ["on the null device, logged", fmt_ms(finder["key"]["median"]),
         fmt_ms(finder["key"]["min"]),
         "%s-%s" % (fmt_ms(finder["key"]["q1"]), fmt_ms(finder["key"]["q3"])),
         fmt_ms(finder["key"]["cpu"]), "+%.2f [%.2f-%.2f]" % finder["extra"]],
    ]))
    md.append("")

    md.append("## Real start\n")
    md.append("The sample application (`sample/`, compiled once) started three ways, all on"
              " the same runtime (%s) and the same class folder: by the launcher from its"
              " bundle, by `java -cp <classes> hello.Hello`, and by a shell stub in the"
              " bundle (`#!/bin/sh`, finds the bundle with `cd \"$(dirname \"$0\")/..\" &&"
              " pwd`, then `exec`s the runtime's `java`). %d rounds of %d runs of each, the"
              " order rotated every round.\n" % (
                  args.java, len(start[java_cmd]["round_medians"]),
                  len(start[java_cmd]["times"]) // len(start[java_cmd]["round_medians"])))
    md.append(table(["Command", "Median ms", "Min ms", "Quartiles ms", "CPU ms (user+sys)",
                     "Ratio to java"], [
        ["`java -cp classes hello.Hello`", fmt_ms(java["median"]), fmt_ms(java["min"]),
         "%s-%s" % (fmt_ms(java["q1"]), fmt_ms(java["q3"])), fmt_ms(java["cpu"]), "1.000"],
        ["launcher `Hello.app/Contents/MacOS/Hello`", fmt_ms(ours["median"]),
         fmt_ms(ours["min"]), "%s-%s" % (fmt_ms(ours["q1"]), fmt_ms(ours["q3"])),
         fmt_ms(ours["cpu"]), "%.3f" % start_ratio],
        ["shell stub", fmt_ms(stub["median"]), fmt_ms(stub["min"]),
         "%s-%s" % (fmt_ms(stub["q1"]), fmt_ms(stub["q3"])), fmt_ms(stub["cpu"]),
         "%.3f" % stub_ratio],
    ]))
    md.append("\nPer round (each round's median over its runs), launcher / java: median"
              " %.3f, quartiles %.3f-%.3f; stub / launcher: median %.3f, launcher faster in"
              " %d of %d rounds.\n" % (
                  statistics.median(start_rounds),
                  statistics.quantiles(start_rounds, n=4)[0],
                  statistics.quantiles(start_rounds, n=4)[2],
                  statistics.median(stub_rounds),
                  sum(1 for r in stub_rounds if r > 1), len(stub_rounds)))

    if cds:
        md.append("## Class-data sharing\n")
        md.append("A headless program that loads what a desktop application loads at start"
                  " (`bench/java/wrapkin/bench/DesktopStart.java`: Swing components, fonts"
                  " and 2D drawing, an XML parser, `java.time`), bundled with `--cds` for every"
                  " runtime from 13 on, against `java -cp` with the same jar and no archive."
                  " *With the archive*: the archive made by one earlier start, %d rounds of %d"
                  " runs each. *First start*: the start that records the classes, every run"
                  " with no archive (%d rounds of one run); the archive is made after it, in"
                  " the background, and each run waits for the dump of the run before. *After"
                  " `cp -R`*: a fresh copy of the bundle, whose new file times give it a key"
                  " and an archive of its own: its first start (the copy made anew before each"
                  " run), then its later starts.\n" % (
                      cds[0]["rounds"], cds[0]["plain"]["runs"] // cds[0]["rounds"],
                      cds[0]["first"]["runs"]))
        md.append(table(
            ["Java", "`java -cp` ms", "With the archive ms", "Faster per round",
             "First start ms", "First / plain per round", "Archive MiB",
             "After `cp -R`: first ms", "then ms"],
            [[r["version"], fmt_ms(r["plain"]["median"]), fmt_ms(r["with"]["median"]),
              "%.2fx [%.2f-%.2f]" % r["speedup"], fmt_ms(r["first"]["median"]),
              "%.2fx [%.2f-%.2f]" % r["first_ratio"], "%.1f" % (r["size"] / 1048576.0),
              fmt_ms(r["copy_first"]), fmt_ms(r["copy_second"])] for r in cds]))
        md.append("")
    if key:
        md.append("### What the key costs\n")
        md.append("The launcher with the runtime double and a class path `$APPDIR/lib/*` of N"
                  " jars, started with a JVM option that names `$CACHEDIR`, so that it"
                  " computes the key of the archive's folder (the folder's listing, a stat of"
                  " each jar, the hash), against the same bundle with an option that does"
                  " not: %d rounds of %d runs each. The cost is the difference of the rounds'"
                  " medians, with its 95%% confidence interval.\n" % (
                      key[0]["rounds"], key[0]["plain"]["runs"] // key[0]["rounds"]))
        md.append(table(
            ["Jars in `lib/*`", "Without the key ms", "With the key ms",
             "Key per start ms", "µs per jar"],
            [[fmt_count(r["count"]), fmt_ms(r["plain"]["median"]),
              fmt_ms(r["key"]["median"]), "%.2f [%.2f-%.2f]" % r["extra"],
              "%.2f" % r["per_jar_us"]] for r in key]))
        md.append("")

    if waiter:
        md.append("### What the waiter runs\n")
        md.append("After the first start of the bundle above, the waiter runs the dump"
                  " (`-Xshare:dump`), then the proof: the runtime loads the main class with"
                  " `--dry-run` and `-Xshare:on`, which fails when it cannot map the archive."
                  " Their command lines as the waiter ran them, side by side: %d rounds of one"
                  " run each; peak resident size (`ru_maxrss`), median of 3 runs.\n" %
                  waiter[0]["rounds"])
        md.append(table(
            ["Java", "Dump ms", "Proof ms", "Proof / dump per round",
             "Dump peak MiB", "Proof peak MiB"],
            [[r["version"], fmt_ms(r["dump"]["median"]), fmt_ms(r["proof"]["median"]),
              "%.2f [%.2f-%.2f]" % r["ratio"], "%.0f" % r["dump_mib"],
              "%.0f" % r["proof_mib"]] for r in waiter]))
        md.append("")
    if record:
        md.append("### What the record of checked files costs\n")
        md.append("The launcher with the runtime double and a complete archive whose record"
                  " lists N files beyond the key that the runtime checks (jars that a"
                  " manifest's `Class-Path` names), each of which a start looks at, against the"
                  " same with a record of none: %d rounds of %d runs each. The cost is the"
                  " difference of the rounds' medians, with its 95%% confidence interval.\n" % (
                      record[0]["rounds"], record[0]["plain"]["runs"] // record[0]["rounds"]))
        md.append(table(
            ["Files in the record", "None ms", "N ms", "Record per start ms",
             "µs per file"],
            [[fmt_count(r["count"]), fmt_ms(r["plain"]["median"]),
              fmt_ms(r["key"]["median"]), "%.2f [%.2f-%.2f]" % r["extra"],
              "%.2f" % r["per_jar_us"]] for r in record]))
        md.append("")

    md.append("## Scale\n")
    md.append("### Whole launches\n")
    md.append("The launcher with the runtime double and a generated configuration"
              " (`bench/CfgText.h`): a typical file grown to N lines (class path entries"
              " under `$APPDIR`, JVM options, arguments, comments and empty lines), N JVM"
              " options (a JVM command line of N + 3 arguments), and one option whose value"
              " holds `$APPDIR` N times. \"Per item\" is the time above the smallest size's"
              " (the fixed cost of a launch) divided by the items added: it stays flat when"
              " the cost grows linearly, and a quadratic cost multiplies it by ten from one"
              " size to the next. \"Growth\" is that factor, shown where the previous size"
              " added at least the fixed cost (below that, the noise of the fixed cost"
              " swamps it).\n")
    names = {"mixed": "lines", "options": "JVM options", "macros": "macro occurrences"}
    for kind, rows in series.items():
        costs = {n: (per, r) for n, per, r in per_item_costs([(n, t) for n, t, _ in rows])}
        md.append(table(
            [names[kind][0].upper() + names[kind][1:], "Median ms", "Runs",
             "Per item µs", "Growth"],
            [[fmt_count(n), fmt_ms(t), runs,
              "%.3f" % (costs[n][0] * 1e6) if n in costs else "",
              "%.2fx" % costs[n][1] if n in costs and costs[n][1] is not None else ""]
             for n, t, runs in rows]))
        md.append("")

    md.append("### In process\n")
    md.append("Google Benchmark (`bench/*Bench.cpp`), repetitions in random interleaving;"
              " CPU time per call, median of the repetitions, in µs. The files lie in the"
              " page cache, and the allocator's thresholds are fixed, so that memory is"
              " reused rather than mapped afresh. `std::getline` and `CfgFile::load` take"
              " turns within each iteration (`BM_LoadAgainstGetline`), so that the drift"
              " of a shared machine's speed falls on both alike; the load includes freeing"
              " its result.\n")
    md.append(table(
        ["Lines", "`std::getline`", "`CfgFile::load`", "load / getline",
         "load + `expandMacros`"],
        [[fmt_count(n), fmt_us(getline[n]), fmt_us(load[n]), "%.2f" % parse_ratios[n],
          fmt_us(load_expand.get(n, float("nan")))] for n in sorted(parse_ratios)]))
    md.append("")
    replace = dict(family(medians, "BM_Replace"))
    expand = dict(family(medians, "BM_ExpandMacros"))
    md.append(table(
        ["Macro occurrences", "`tstrings::replace`", "`expandMacros`",
         "`expandMacros` ns per occurrence"],
        [[fmt_count(n), fmt_us(replace[n]), fmt_us(expand[n]),
          "%.1f" % (expand[n] * 1e3 / n)] for n in sorted(expand) if n in replace]))
    md.append("")
    init = dict(family(medians, "BM_JvmInitFromConfigFile"))
    launch = dict(family(medians, "BM_JvmLaunch"))
    md.append(table(
        ["JVM options", "`Jvm::initFromConfigFile`", "`Jvm::launch` (double)",
         "launch ns per argument"],
        [[fmt_count(n), fmt_us(init[n]), fmt_us(launch[n]), "%.1f" % (launch[n] * 1e3 / n)]
         for n in sorted(launch) if n in init]))
    md.append("\nWorst growth of the cost per item (as above, over the smallest size) from"
              " one size to the next: %s.\n" % ", ".join(
                  "%s %.2fx" % (name[3:], g) for name, g in inproc_growth.items()
                  if g is not None))

    md.append("## Memory\n")
    md.append("Peak resident set size and the pages the kernel mapped for the process"
              " (`ru_maxrss` and `ru_minflt` of the child, median of 5 runs, measured by"
              " `bench/PeakRss.c`; the peak cannot fall below the measuring process's own"
              " size from before its `exec`, about 0.5 MiB). The configurations are the"
              " typical file of the scale runs.\n")
    rows = [["floor program", "%.0f" % rss["limit"], "%.0f" % faults["limit"], ""],
            ["launcher, sample configuration", "%.0f" % rss["launcher"],
             "%.0f" % faults["launcher"], ""]]
    (n0, kib0) = mixed_rss[0]
    for n, kib in mixed_rss:
        # Below some thousand lines the growth hides in the allocator's slack.
        growth = "%.0f" % ((kib - kib0) * 1024.0 / (n - n0)) if n >= 10000 else ""
        rows.append(["launcher, %s lines" % fmt_count(n), "%.0f" % kib,
                     "%.0f" % faults["mixed-%d" % n], growth])
    md.append(table(["Process", "Peak RSS KiB", "Page faults",
                     "Bytes per line above %s lines" % fmt_count(n0)], rows))
    md.append("")

    md.append("## Notes\n")
    md.extend(notes(locals()))
    md.append("")

    md.append("## Machine and noise\n")
    md.append(table(["", ""], [
        ["Date", now],
        ["System", "`%s`" % " ".join(platform.uname())],
        ["CPU", "%s, %d cores" % (cpu_model(), os.cpu_count() or 0)],
        ["Compiler", args.compiler],
        ["Java", args.java],
        ["Load average before / after", "%s / %s" % (
            args.load_before, args.load_after or load_average())],
    ]))
    md.append("")
    md.append("Noise: between the quartiles, the per-round launcher/floor ratio spread over"
              " %s and the launcher/java ratio over %s; the in-process repetitions had a"
              " median coefficient of variation of %.1f%%. The load average includes the"
              " benchmarks themselves; on %d cores, figures well above 1 mean that other"
              " work competed with the measurements.\n" % (
                  quartiles(overhead_rounds), quartiles(start_rounds, 3),
                  100 * statistics.median(cvs) if cvs else float("nan"),
                  os.cpu_count() or 0))

    with open(args.out, "w", encoding="utf-8") as f:
        f.write("\n".join(md).rstrip() + "\n")


if __name__ == "__main__":
    sys.exit(main())
