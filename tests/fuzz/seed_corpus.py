"""Seeds the scan fuzzer's corpus with the block headers of card images
written by the card-image writer."""

import os
import subprocess
import sys
import tempfile

BLOCK = 4194304
LAYOUTS = [
    ["rec:3", "junk:2", "rec:1"],
    ["blk:5", "rec:2", "junk:6"],
    ["rec:4,seq=0.7.3.3", "junk:1", "rec:1@0x4ACFABD6"],
    ["rec:1x20"],
    ["junk:3", "rec:2", "junk:1", "blk:9"],
]


def main(mkcard, corpus):
    os.makedirs(corpus, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for n, layout in enumerate(LAYOUTS):
            image = os.path.join(tmp, "card.img")
            subprocess.run([mkcard, "--payload", "sparse", image, *layout], check=True)
            seed = bytearray([n % 8, 0, 0])
            with open(image, "rb") as card:
                size = os.fstat(card.fileno()).st_size
                for offset in range(0, size - size % BLOCK, BLOCK):
                    card.seek(offset)
                    seed += card.read(12)
            with open(os.path.join(corpus, "seed%d" % n), "wb") as out:
                out.write(seed)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
