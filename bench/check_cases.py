"""The read-back check (-c) and the second copy (-m) in the benchmark.

  from the page cache: quilbex -d and quilbex into a zip, each with and
    without -c (the read-back overlaps the export in a folder, follows the
    flush in a zip), and (a figure) quilbex -d -c against what the disk
    alone takes to write the bytes and read them back past the cache; with --baseline BIN, quilbex -d of that binary (a build
    from before the checksum list) against today's, which writes SHA256SUMS;
  behind the throttled card: quilbex -d -c -m against quilbex -d, and
    (a figure) quilbex into a zip with -c against without;
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


def copy_and_read_back(source, folder, *, log):
    """cp of `source` into a fresh folder, sync, then the copy read back past
    the cache: what the disk alone takes to take the bytes and give them
    back, with no hash at all."""
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    script = 'cp "$1" "$2/copy" && sync && dd if="$2/copy" iflag=direct bs=4M of=/dev/null status=none'
    run = timed(["sh", "-c", script, "cp", source, folder], log_path=log, label="cp + sync + read back")
    shutil.rmtree(folder)
    return run


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
    cases["cp + sync + read back"] = disk = Case("cp + sync + read back past the cache", "file",
                                                 os.path.getsize(image))
    say(f"check: {rounds} round(s) from the page cache of " + ", ".join(cases))
    for r in range(rounds):
        for name, (quilbex, target, options) in runs.items():
            cases[name].runs.append(export(quilbex, image, target, threads, options=options, log=log,
                                           label=f"quilbex {name}"))
        disk.runs.append(copy_and_read_back(image, folder, log=log))
        say(f"  round {r + 1}: " + ", ".join(f"{n} {c.runs[-1].wall:.2f} s" for n, c in cases.items()))
    shutil.rmtree(folder, ignore_errors=True)
    for path in (archive, archive + ".sha256"):
        if os.path.exists(path):
            os.unlink(path)

    # Behind the card reader: the folder with both checks and a second copy,
    # and the zip with its check, each against the same export without them.
    throttled = {name: (target, options, Case(f"quilbex {name} T={threads}, card at {args.rate:g} MB/s",
                                              "loop dev", card_bytes))
                 for name, target, options in (("-d", folder, ["-d"]), ("-d -c -m", folder, ["-d", "-c", "-m", mirror]),
                                               ("zip", archive, []), ("zip -c", archive, ["-c"]))}
    why_not = "--no-throttle" if args.no_throttle else cardrig.requires_root_and_fuse()
    if why_not:
        for _, _, case in throttled.values():
            case.note = f"skipped: {why_not}"
    else:
        with cardrig.served_loop_card(image, rate=f"{args.rate:g}", cardfs=bins["cardfs"]) as device:
            for r in range(args.throttle_rounds):
                order = list(throttled.items())
                for name, (target, options, case) in order if r % 2 == 0 else reversed(order):
                    case.runs.append(export(bins["quilbex"], device, target, threads, options=options, log=log,
                                            label=f"quilbex {name} throttled", fresh=[mirror]))
                say(f"  throttled round {r + 1}: " + ", ".join(f"{name} {case.runs[-1].wall:.2f} s"
                                                               for name, (_, _, case) in throttled.items()))
        for path in (folder, mirror):
            shutil.rmtree(path, ignore_errors=True)
        for path in (archive, archive + ".sha256"):
            if os.path.exists(path):
                os.unlink(path)
    plain, both, zipped, zip_checked = (case for _, _, case in throttled.values())

    def ratio(a, b):
        return a.best().wall / b.best().wall if a.best() and b.best() else None

    targets = []
    if args.baseline:
        targets.append(("quilbex -d (SHA256SUMS) wall / baseline -d wall", ratio(cases["-d"], cases["-d, baseline"]),
                        "<=", TARGETS["sums"], ""))
    targets += [("quilbex -d -c wall / quilbex -d wall", ratio(cases["-d -c"], cases["-d"]), "<=",
                 TARGETS["check"], ""),
                ("quilbex -d -c wall / cp + sync + read back wall", ratio(cases["-d -c"], disk), None, None, ""),
                ("quilbex zip -c wall / quilbex zip wall", ratio(cases["zip -c"], cases["zip"]), "<=",
                 TARGETS["check"], ""),
                ("throttled quilbex -d -c -m wall / throttled -d wall", ratio(both, plain), "<=",
                 TARGETS["mirror"], ""),
                ("throttled quilbex zip -c wall / throttled zip wall", ratio(zip_checked, zipped), None, None, "")]
    measured = [c for c in (*cases.values(), plain, both, zipped, zip_checked) if c.runs]
    targets.append(("peak RSS of the check's runs", max(c.peak_rss_kib() for c in measured) / 1024, "<=",
                    TARGETS["rss_mib"], " MiB"))
    return [*cases.values(), plain, both, zipped, zip_checked], targets
