"""The report page (-R) in the benchmark: the page of a card that holds the
most recordings a card can, 80,000 of one block each a minute apart (sparse,
so its image takes little disk), written with the listing (-l), which reads
one sector per block. The page's bars of one night merge where they would be
narrower than a pixel, so its picture stays small; its table has a row per
file. The listing alone, on the same card, shows what the page adds.
"""

import os

from measure import Case, timed

TARGETS = {"wall_s": 2.0, "page_mb": 20.0}
ITEMS = ["rec:1x80000", "junk:1"]
BLOCK = 4 << 20


def measure(bins, make_card, rounds, work, log, say):
    """The cases for the table and the targets as (name, value, op, goal, unit)."""
    image = os.path.join(work, "report-80000.img")
    make_card(bins["mkcard"], image, ITEMS, log=log)
    page = os.path.join(work, "report-80000.html")
    listing = Case("quilbex -l, 80,000 recordings", "sparse", 80000 * BLOCK)
    report = Case("quilbex -l -R, 80,000 recordings", "sparse", 80000 * BLOCK)
    say(f"report page: quilbex-mkcard --payload sparse {' '.join(ITEMS)}; {rounds} round(s) of -l and -l -R")
    for r in range(rounds):
        listing.runs.append(timed([bins["quilbex"], "-l", image], log_path=log, label="quilbex -l 80000"))
        if os.path.exists(page):
            os.unlink(page)
        run = timed([bins["quilbex"], "-l", "-R", page, image], log_path=log, label="quilbex -l -R 80000")
        run.out_bytes = os.path.getsize(page)
        report.runs.append(run)
        say(f"  round {r + 1}: -l {listing.runs[-1].wall:.2f} s, -l -R {run.wall:.2f} s, "
            f"page {run.out_bytes:,} bytes, peak RSS {run.rss_kib / 1024:.1f} MiB")
    os.unlink(page)
    targets = [
        ("quilbex -l -R wall, 80,000 recordings", report.best().wall, "<=", TARGETS["wall_s"], " s"),
        ("the page's size, 80,000 recordings", report.best().out_bytes / 1e6, "<=", TARGETS["page_mb"], " MB"),
        ("peak RSS of quilbex -l -R, 80,000 recordings", report.peak_rss_kib() / 1024, None, None, " MiB"),
        ("the page's share: -l -R wall - -l wall", report.best().wall - listing.best().wall, None, None, " s"),
    ]
    return [listing, report], targets
