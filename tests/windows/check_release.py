#!/usr/bin/env python3
"""Checks the release zip: exactly the plug-in, the guide and the licence; the
plug-in as built; the guide in Windows line ends, naming the requirements and
every setting with its default and range as the module declares them.

    check_release.py ZIP AUF PRINT_SETTINGS
"""
import re
import subprocess
import sys
import zipfile

problems = []


def problem(text):
    problems.append(text)
    print("check_release: FAIL: " + text)


def main():
    zip_path, auf_path, print_settings = sys.argv[1:4]
    with zipfile.ZipFile(zip_path) as z:
        names = sorted(z.namelist())
        if names != ["LICENSE.txt", "Velvane.auf", "Velvane.txt"]:
            problem("the zip holds %s" % names)
            return 1
        auf = z.read("Velvane.auf")
        guide_bytes = z.read("Velvane.txt")
        licence = z.read("LICENSE.txt").decode("utf-8")

    if auf != open(auf_path, "rb").read():
        problem("Velvane.auf in the zip is not the one built at %s" % auf_path)
    if not licence.startswith("MIT License") or "Copyright (c) 2026 the Velvane developers" not in licence:
        problem("LICENSE.txt is not the MIT licence of the Velvane developers")

    for name, data in (("Velvane.txt", guide_bytes), ("LICENSE.txt", licence.encode("utf-8"))):
        if re.search(rb"(?<!\r)\n", data):
            problem("%s has line ends without CR: Notepad on older Windows shows one long line" % name)
    guide = guide_bytes.decode("utf-8-sig")
    for needed in ("SSE2", "720 x 480", "plug-in folder", "VelvaneNR_SSE", "Cache Reset"):
        if needed not in guide:
            problem("the guide does not mention %r" % needed)

    settings = subprocess.run([print_settings], check=True, capture_output=True, text=True).stdout.split("\n")
    count = 0
    for line in filter(None, settings):
        kind, hexlabel, *values = line.split()
        label = bytes.fromhex(hexlabel).decode("cp932")
        count += 1
        if kind == "track":
            default, low, high = values
            want = r"%s\s+\(%s, %s-%s\)" % (re.escape(label), default, low, high)
            if not re.search(want, guide):
                problem("the guide does not give track bar %s as (%s, %s-%s)" % (label, default, low, high))
        else:
            want = r"%s\s+\(%s\)" % (re.escape(label), "on" if values[0] == "1" else "off")
            if not re.search(want, guide):
                problem("the guide does not give check box %s as (%s)" % (label, "on" if values[0] == "1" else "off"))
    if count != 19:
        problem("expected 19 settings from the module, got %d" % count)

    if problems:
        return 1
    print("check_release: %s holds Velvane.auf (%d bytes), the guide (%d settings described) and the licence"
          % (zip_path, len(auf), count))
    return 0


if __name__ == "__main__":
    sys.exit(main())
