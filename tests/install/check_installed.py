#!/usr/bin/env python3
"""Checks the files `cmake --install` put under a prefix.

    check_installed.py desktop PREFIX            the desktop entry and what it points at
    check_installed.py appstream PREFIX CHANGELOG  the AppStream component and its tree, and the
                                                   release every file names against CHANGELOG's
"""
import configparser
import email.utils
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def only_file(prefix, pattern):
    found = glob.glob(os.path.join(prefix, pattern))
    if len(found) != 1:
        fail("expected exactly one %s under %s, found %s" % (pattern, prefix, found or "none"))
    return found[0]


def run_tool(args, package):
    """Runs a validator; any message it prints counts as a finding."""
    if shutil.which(args[0]) is None:
        fail("%s not found; it comes with the Debian package %s" % (args[0], package))
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    print("$ " + " ".join(args) + "\n" + result.stdout)
    return result


def check_desktop(prefix):
    path = only_file(prefix, "share/applications/*.desktop")
    result = run_tool(["desktop-file-validate", path], "desktop-file-utils")
    if result.returncode != 0 or result.stdout.strip():
        fail("desktop-file-validate reported findings")

    entry = configparser.RawConfigParser(delimiters=("=",), interpolation=None)
    entry.optionxform = str  # keys are case-sensitive
    entry.read(path, encoding="utf-8")
    keys = entry["Desktop Entry"]
    expected = {"Type": "Application", "Name": "Tavimo", "Exec": "tavimo", "Terminal": "false"}
    for key, value in expected.items():
        if keys.get(key) != value:
            fail("%s=%r, expected %r" % (key, keys.get(key), value))
    for key in ("Comment", "Comment[ja]"):
        if not keys.get(key):
            fail(key + " is missing")
    categories = keys.get("Categories", "").split(";")
    if "Graphics" not in categories or "Viewer" not in categories:
        fail("Categories lacks Graphics or Viewer: %r" % keys.get("Categories"))

    # Exec names the installed program; Icon names an installed hicolor icon.
    program = os.path.join(prefix, "bin", keys["Exec"])
    if not os.access(program, os.X_OK):
        fail(program + " is not an installed executable")
    icons = glob.glob(os.path.join(prefix, "share/icons/hicolor/*/apps", keys["Icon"] + ".png"))
    if not icons:
        fail("no hicolor icon named %r is installed" % keys["Icon"])


def newest_entry(changelog):
    """The version and the date (YYYY-MM-DD, in the entry's own time zone) of the newest entry of
    a Debian changelog."""
    with open(changelog, encoding="utf-8") as f:
        text = f.read()
    version = re.match(r"\S+ \(([^)]+)\)", text).group(1)
    stamp = re.search(r"^ -- .+?  (.+)$", text, re.MULTILINE).group(1)
    return {"version": version, "date": email.utils.parsedate_to_datetime(stamp).date().isoformat()}


def metainfo_release(path):
    newest = ET.parse(path).getroot().find("releases/release")
    return {"version": None if newest is None else newest.get("version"),
            "date": None if newest is None else newest.get("date")}


def manual_release(path):
    with gzip.open(path, "rt", encoding="utf-8") as page:
        header = re.search(r"^\.TH +\S+ +\S+ +(\S+)", page.read(), re.MULTILINE)
    return {"date": header and header.group(1)}


# The installed files that name the release, and how to read it off each: what each names must be
# the changelog's newest entry.
RELEASE_STAMPS = (
    ("share/metainfo/*.metainfo.xml", metainfo_release),
    ("share/man/man1/tavimo.1.gz", manual_release),
    ("share/man/ja/man1/tavimo.1.gz", manual_release),
)


def appstream_options():
    """The project has no web home of its own. AppStream 1.0 fails a desktop application that
    names none, and lets the finding be demoted; 0.16 has no such check and refuses to demote a
    finding it does not know."""
    if shutil.which("appstreamcli") is None:
        return []
    version = subprocess.run(["appstreamcli", "--version"], stdout=subprocess.PIPE, text=True)
    major = re.search(r"(\d+)\.\d+", version.stdout)
    if major and int(major.group(1)) >= 1:
        return ["--override=url-homepage-missing=info"]
    return []


def check_appstream(prefix, changelog):
    path = only_file(prefix, "share/metainfo/*.metainfo.xml")
    desktop = only_file(prefix, "share/applications/*.desktop")
    options = ["--no-net"] + appstream_options()
    if run_tool(["appstreamcli", "validate"] + options + [path], "appstream").returncode != 0:
        fail("appstreamcli validate failed")
    # The component together with its desktop entry and icon, as a software centre sees it.
    if run_tool(["appstreamcli", "validate-tree"] + options + [prefix], "appstream").returncode != 0:
        fail("appstreamcli validate-tree failed")

    component = ET.parse(path).getroot()
    app_id = component.findtext("id")
    if os.path.basename(path) != app_id + ".metainfo.xml":
        fail("%s is not named after the component id %r" % (path, app_id))
    launchable = component.findtext("launchable[@type='desktop-id']")
    if launchable != os.path.basename(desktop):
        fail("launchable %r is not the installed desktop entry %s" % (launchable, desktop))
    expected = newest_entry(changelog)
    for pattern, read in RELEASE_STAMPS:
        stamp = only_file(prefix, pattern)
        for key, value in read(stamp).items():
            if value != expected[key]:
                fail("%s names the %s %r, the newest entry of %s has %r"
                     % (stamp, key, value, changelog, expected[key]))


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "desktop":
        check_desktop(sys.argv[2])
    elif len(sys.argv) == 4 and sys.argv[1] == "appstream":
        check_appstream(sys.argv[2], sys.argv[3])
    else:
        sys.exit(__doc__)
    print("ok")
