"""The read-back check (-c) and the second copy (-m) in the benchmark.

  from the page cache: quilbex -d and quilbex into a zip, each with and
    without -c (the read-back overlaps the export in a folder, follows the
    flush in a zip); with --baseline BIN, quilbex -d of that binary (a build
    from before the checksum list) against today's, which writes SHA256SUMS;
  behind the throttled card: quilbex -d -c -m against quilbex -d;
  peak memory of every one of these runs.
"""

import os
import shutil

import cardrig
from measure import Case, timed

TARGETS = {"sums": 1.05, "check": 1.35, "mirror": 1.05, "rss_mib": 48.0}


def export(quilbex, card, target, threads, *, options=(), log, label, fresh=()):
    """One export into a target made fresh (a folder, or an archive and its
    checksum file, and the paths in `fresh`, such as a second copy's)."""
    for path in (target, target + ".sha256", *fresh):
        if os.path.isdir(path):
            shutil.rmtree(path)
        elif os.path.exists(path):
            os.unlink(path)
    return timed([quilbex, *options, card, target], env={"QUILBEX_THREADS": str(threads)}, log_path=log,
                 label=label)


def measure(bins, image, card_bytes, threads, args, rounds, work, log, say):
    """The cases for the table and the targets as (name, value, op, goal, unit)."""
    folder, mirror, archive = (os.path.join(work, name) for name in ("check-folder", "check-mirror", "check.zip"))
    runs = {
        "-d": (bins["quilbex"], folder, ["-d"]),
        "-d -c": (bins["quilbex"], folder, ["-d", "-c"]),
        "zip": (bins["quilbex"], archive, []),
        "zip -c": (bins["quilbex"], archive, ["-c"]),
    }
    if args.baseline:
        runs["-d, baseline"] = (args.baseline, folder, ["-d"])
    cases = {name: Case(f"quilbex {name} T={threads}", "image", card_bytes) for name in runs}
    say(f"check: {rounds} round(s) from the page cache of " + ", ".join(runs))
    for r in range(rounds):
        for name, (quilbex, target, options) in runs.items():
            cases[name].runs.append(export(quilbex, image, target, threads, options=options, log=log,
                                           label=f"quilbex {name}"))
        say(f"  round {r + 1}: " + ", ".join(f"{n} {c.runs[-1].wall:.2f} s" for n, c in cases.items()))
    shutil.rmtree(folder, ignore_errors=True)
    for path in (archive, archive + ".sha256"):
        if os.path.exists(path):
            os.unlink(path)

    plain = Case(f"quilbex -d T={threads}, card at {args.rate:g} MB/s", "loop dev", card_bytes)
    both = Case(f"quilbex -d -c -m T={threads}, card at {args.rate:g} MB/s", "loop dev", card_bytes)
    why_not = "--no-throttle" if args.no_throttle else cardrig.requires_root_and_fuse()
    if why_not:
        plain.note = both.note = f"skipped: {why_not}"
    else:
        with cardrig.served_loop_card(image, rate=f"{args.rate:g}", cardfs=bins["cardfs"]) as device:
            for r in range(args.throttle_rounds):
                steps = [lambda: plain.runs.append(export(bins["quilbex"], device, folder, threads, options=["-d"],
                                                          log=log, label="quilbex -d throttled")),
                         lambda: both.runs.append(export(bins["quilbex"], device, folder, threads,
                                                         options=["-d", "-c", "-m", mirror], log=log,
                                                         label="quilbex -d -c -m throttled", fresh=[mirror]))]
                for step in steps if r % 2 == 0 else reversed(steps):
                    step()
                say(f"  throttled round {r + 1}: -d {plain.runs[-1].wall:.2f} s, "
                    f"-d -c -m {both.runs[-1].wall:.2f} s")
        for path in (folder, mirror):
            shutil.rmtree(path, ignore_errors=True)

    def ratio(a, b):
        return a.best().wall / b.best().wall if a.best() and b.best() else None

    targets = []
    if args.baseline:
        targets.append(("quilbex -d (SHA256SUMS) wall / baseline -d wall", ratio(cases["-d"], cases["-d, baseline"]),
                        "<=", TARGETS["sums"], ""))
    targets += [("quilbex -d -c wall / quilbex -d wall", ratio(cases["-d -c"], cases["-d"]), "<=",
                 TARGETS["check"], ""),
                ("quilbex zip -c wall / quilbex zip wall", ratio(cases["zip -c"], cases["zip"]), "<=",
                 TARGETS["check"], ""),
                ("throttled quilbex -d -c -m wall / throttled -d wall", ratio(both, plain), "<=",
                 TARGETS["mirror"], "")]
    measured = [c for c in (*cases.values(), plain, both) if c.runs]
    targets.append(("peak RSS of the check's runs", max(c.peak_rss_kib() for c in measured) / 1024, "<=",
                    TARGETS["rss_mib"], " MiB"))
    return [*cases.values(), plain, both], targets
