#!/usr/bin/env python3
"""gzip_file.py SOURCE TARGET: one gzip member, no stored name, mtime 0, so builds are reproducible."""
import gzip
import os
import sys


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: gzip_file.py SOURCE TARGET\n")
        return 2
    source, target = argv
    with open(source, "rb") as f:
        data = f.read()
    temporary = target + ".tmp"
    with open(temporary, "wb") as f:
        f.write(gzip.compress(data, compresslevel=9, mtime=0))
    os.replace(temporary, target)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
