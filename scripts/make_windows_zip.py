#!/usr/bin/env python3
"""Writes the Windows zip: the given programs and DLLs at its top level, the
files of the data folder under data\\, and the text on how to run it as
README.txt with Windows line ends.

Usage: make_windows_zip.py OUT.zip FILE... --data DIR --readme TEXT
"""

import argparse
import os
import zipfile


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", help="the zip to write")
    parser.add_argument("files", nargs="+", help="programs and DLLs for the top level")
    parser.add_argument("--data", required=True, help="the folder whose files go to data\\")
    parser.add_argument("--readme", required=True, help="the text that becomes README.txt")
    args = parser.parse_args()

    entries = [(path, os.path.basename(path)) for path in args.files]
    entries += [(os.path.join(args.data, name), "data/" + name)
                for name in sorted(os.listdir(args.data))
                if os.path.isfile(os.path.join(args.data, name))]
    with open(args.readme, encoding="utf-8") as f:
        readme = f.read().replace("\r\n", "\n").replace("\n", "\r\n")

    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    partial = args.out + ".part"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for path, name in entries:
            archive.write(path, name)
        archive.writestr("README.txt", readme)
    os.replace(partial, args.out)


if __name__ == "__main__":
    main()
