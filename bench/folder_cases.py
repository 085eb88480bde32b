"""The folder export (-d) in the benchmark: WAV files written straight from
the card, each flushed to the disk, so the disk sets the pace, not deflate.

  from the page cache: quilbex -d against cp of a file of the same size into
    the same folder followed by sync (the export flushes its files too);
  behind the throttled card: quilbex -d against dd reading the same blocks;
  peak memory of every folder export;
  behind the throttled card: a folder export of 15-second files interrupted
    after 90 % of its files, resumed (the done files read back included),
    against the whole export.
"""

import os
import shutil

import cardrig
from measure import Case, timed

TARGETS = {"cp": 1.3, "throttle": 1.05, "rss_mib": 48.0, "resume": 0.25}
RESUME_OPTIONS = ["-d", "-s", "15"]
RESUME_DONE = 0.9  # the share of the files the interrupted run finished


def export_to_folder(quilbex, card, folder, threads, *, log, label):
    """One folder export into a folder made fresh; its files removed after."""
    shutil.rmtree(folder, ignore_errors=True)
    run = timed([quilbex, "-d", card, folder], env={"QUILBEX_THREADS": str(threads)}, log_path=log, label=label)
    run.out_bytes = sum(entry.stat().st_size for entry in os.scandir(folder))
    shutil.rmtree(folder)
    return run


def interrupt_after(folder, share):
    """Leaves the folder as an export stopped after `share` of its files
    leaves it: those files listed, the next one a .part, the rest not there."""
    list_path = os.path.join(folder, "SHA256SUMS")
    with open(list_path) as f:
        lines = f.readlines()
    done = int(len(lines) * share)
    for line in lines[done:]:
        os.unlink(os.path.join(folder, line[66:].rstrip("\n")))
    with open(list_path, "w") as f:
        f.writelines(lines[:done])
    with open(os.path.join(folder, lines[done][66:].rstrip("\n") + ".part"), "wb") as f:
        f.write(bytes(1 << 20))
    os.sync()
    return done, len(lines)


def measure_resume(bins, device, card_bytes, threads, rate, rounds, work, log, say):
    """The whole export of 15-second files behind the throttled card, and its
    resume after 90 % of the files: (cases, target)."""
    folder = os.path.join(work, "out-resume")
    env = {"QUILBEX_THREADS": str(threads)}
    whole = Case(f"quilbex {' '.join(RESUME_OPTIONS)}, card at {rate} MB/s", "loop dev", card_bytes)
    resumed = Case(f"  the same resumed after {RESUME_DONE:.0%} of the files", "loop dev", card_bytes)
    for r in range(rounds):
        shutil.rmtree(folder, ignore_errors=True)
        whole.runs.append(timed([bins["quilbex"], *RESUME_OPTIONS, device, folder], env=env, log_path=log,
                                label="quilbex -d -s 15 throttled"))
        done, files = interrupt_after(folder, RESUME_DONE)
        resumed.runs.append(timed([bins["quilbex"], *RESUME_OPTIONS, device, folder], env=env, log_path=log,
                                  label="quilbex -d -s 15 resumed"))
        say(f"  resume round {r + 1}: whole {whole.runs[-1].wall:.2f} s, resumed with {done} of {files} files "
            f"done {resumed.runs[-1].wall:.2f} s")
    shutil.rmtree(folder)
    ratio = resumed.best().wall / whole.best().wall
    return [whole, resumed], ("resumed after 90 % wall / whole export wall, throttled", ratio, "<=",
                              TARGETS["resume"], "")


def copy_and_sync(source, folder, *, log):
    """cp of `source` into the folder, then sync, timed as one."""
    shutil.rmtree(folder, ignore_errors=True)
    os.mkdir(folder)
    run = timed(["sh", "-c", 'cp "$1" "$2" && sync', "cp", source, folder], log_path=log, label="cp + sync")
    shutil.rmtree(folder)
    return run


def same_size_file(payload, size, work):
    """A copy of the payload cut or padded to `size` bytes: the bytes the export writes."""
    path = os.path.join(work, "folder-sized.bin")
    if not os.path.exists(path) or os.path.getsize(path) != size:
        with open(payload, "rb") as src, open(path, "wb") as dst:
            shutil.copyfileobj(src, dst)
            dst.truncate(size)
    return path


def measure(bins, image, payload, ranges, card_bytes, threads, args, rounds, work, log, say):
    """The cases for the table and the targets as (name, value, op, goal, unit)."""
    folder = os.path.join(work, "out-folder")
    written = export_to_folder(bins["quilbex"], image, folder, threads, log=log, label="quilbex -d (warm-up)")
    q_case = Case(f"quilbex -d T={threads}", "image", card_bytes)
    cp_case = Case("cp + sync, same size", "file", written.out_bytes)
    source = same_size_file(payload, written.out_bytes, work)
    say(f"folder export: {rounds} round(s) from the page cache against cp of a {written.out_bytes:,}-byte file + sync")
    for r in range(rounds):
        steps = [lambda: cp_case.runs.append(copy_and_sync(source, folder, log=log)),
                 lambda: q_case.runs.append(export_to_folder(bins["quilbex"], image, folder, threads, log=log,
                                                             label="quilbex -d"))]
        for step in steps if r % 2 == 0 else reversed(steps):
            step()
        say(f"  round {r + 1}: quilbex -d {q_case.runs[-1].wall:.2f} s, cp + sync {cp_case.runs[-1].wall:.2f} s")
    os.unlink(source)

    thr_case = Case(f"quilbex -d T={threads}, card at {args.rate:g} MB/s", "loop dev", card_bytes)
    dd_case = Case(f"dd iflag=direct bs=4M, card at {args.rate:g} MB/s", "loop dev", card_bytes)
    why_not = "--no-throttle" if args.no_throttle else cardrig.requires_root_and_fuse()
    if why_not:
        thr_case.note = dd_case.note = f"skipped: {why_not}"
    else:
        dd_script = "; ".join(f"dd if=\"$1\" of=/dev/null iflag=direct bs=4M skip={first} count={count} status=none"
                              for first, count in ranges)
        with cardrig.served_loop_card(image, rate=f"{args.rate:g}", cardfs=bins["cardfs"]) as device:
            for r in range(args.throttle_rounds):
                steps = [lambda: dd_case.runs.append(timed(["sh", "-c", dd_script, "dd", device], log_path=log,
                                                           label="dd throttled")),
                         lambda: thr_case.runs.append(export_to_folder(bins["quilbex"], device, folder, threads,
                                                                       log=log, label="quilbex -d throttled"))]
                for step in steps if r % 2 == 0 else reversed(steps):
                    step()
                say(f"  throttled round {r + 1}: dd {dd_case.runs[-1].wall:.2f} s, "
                    f"quilbex -d {thr_case.runs[-1].wall:.2f} s")
            resume_cases, resume_target = measure_resume(bins, device, card_bytes, threads, f"{args.rate:g}",
                                                         args.throttle_rounds, work, log, say)

    targets = [("quilbex -d wall / cp + sync wall", q_case.best().wall / cp_case.best().wall, "<=",
                TARGETS["cp"], "")]
    throttled = thr_case.best().wall / dd_case.best().wall if thr_case.runs and dd_case.runs else None
    targets.append(("throttled quilbex -d wall / throttled dd wall", throttled, "<=", TARGETS["throttle"], ""))
    peak = max(c.peak_rss_kib() for c in (q_case, thr_case) if c.runs) / 1024
    targets.append(("peak RSS of quilbex -d", peak, "<=", TARGETS["rss_mib"], " MiB"))
    if why_not:
        resume_cases = [Case(f"quilbex {' '.join(RESUME_OPTIONS)} resumed, card at {args.rate:g} MB/s", "loop dev",
                             card_bytes, note=f"skipped: {why_not}")]
        resume_target = ("resumed after 90 % wall / whole export wall, throttled", None, "<=", TARGETS["resume"], "")
    targets.append(resume_target)
    return [q_case, cp_case, thr_case, dd_case, *resume_cases], targets
