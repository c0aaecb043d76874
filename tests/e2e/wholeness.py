"""Whether everything a complex keeps on disk is whole after a fault: every data file
of DATA read back by `vetlina-data dat show`, every scenario of SCN by `vetlina-data
scn show`, and every document of Prot ending where its last entry ends (an event
line of the protocol, a closed entry of the results, statistics and passports, the
closing "</table>" of the summary table)."""

import glob
import os
import re
import subprocess

from network import DATA

# How each document ends when its last append went through whole: the tail of its
# last entry, or of its head when it has no entry yet.
DOCUMENT_ENDS = {
    "Prot.htm": (re.compile(rb"(<br>\d\d:\d\d:\d\d [^\r\n]*\r\n|<br>\r\n|</a>\r\n|"
                            rb"</pre><p>\d\d:\d\d:\d\d [^\r\n<]*)$"),),
    "Rest.htm": (re.compile(rb"(</pre>\r\n|</h3>\r\n)$"),),
    "Stat.htm": (re.compile(rb"(</pre>\r\n|</h3>\r\n)$"),),
    "Pasp.htm": (re.compile(rb"(</div>\r\n|</style>\r\n)$"),),
}


def torn_files(folder):
    """The files of a complex's folder that are not whole, as (path, why); empty
    when every file is whole."""
    torn = []
    data = sorted(glob.glob(os.path.join(folder, "DATA", "*")))
    for path in data:
        if not re.fullmatch(r"zmk\d{5}\.dat", os.path.basename(path)):
            torn.append((path, "a stray file in DATA"))
            continue
        shown = subprocess.run([DATA, "dat", "show", path], capture_output=True)
        if shown.returncode != 0:
            torn.append((path, shown.stderr.decode("utf-8", "replace").strip()))
    for path in sorted(glob.glob(os.path.join(folder, "SCN", "*"))):
        if not path.endswith(".scn"):
            torn.append((path, "a stray file in SCN"))
            continue
        shown = subprocess.run([DATA, "scn", "show", path], capture_output=True)
        if shown.returncode != 0:
            torn.append((path, shown.stderr.decode("utf-8", "replace").strip()))
    for path in sorted(glob.glob(os.path.join(folder, "Prot", "**", "*"), recursive=True)):
        if os.path.isdir(path):
            continue
        name = os.path.basename(path)
        with open(path, "rb") as f:
            content = f.read()
        if name == "PaspTabl.htm":
            if not content.endswith(b"</table>") or content.count(b"<table") != 1:
                torn.append((path, "does not end with its one table closed: %r"
                             % content[-60:]))
        elif name in DOCUMENT_ENDS:
            if not content.startswith(b"<html>\r\n"):
                torn.append((path, "no <html> head"))
            elif not any(p.search(content) for p in DOCUMENT_ENDS[name]):
                torn.append((path, "ends inside an entry: %r" % content[-80:]))
        else:
            torn.append((path, "a stray file in Prot"))
    return torn


def scenario(folder, name="SCN/s.scn"):
    """The saved scenario as `vetlina-data scn show` reads it."""
    import json
    shown = subprocess.run([DATA, "scn", "show", os.path.join(folder, name)],
                           capture_output=True, check=True)
    return json.loads(shown.stdout)
