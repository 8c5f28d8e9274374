#!/usr/bin/env python3
"""Checks the Debian package: its control fields and file list, then unpacks it into a
temporary root and checks its changelog and manual pages. (lintian, piuparts and the installed
program's own test are run on it by scripts/package-checks.)

    check_package.py --deb FILE [--version V]

Exits 77 (skipped) when the Debian tools it needs are missing.
"""
import argparse
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
# Dependencies no linker sees, and one that dpkg-shlibdeps must have found.
REQUIRED_DEPENDS = ("fonts-ipafont-gothic", "qt6-qpa-plugins", "qt6-image-formats-plugins",
                    "qt6-translations-l10n", "libqt6widgets6")
MANUAL_LANGUAGES = ("", "ja/")  # under usr/share/man


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def need(tools, why):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("SKIP: %s not found, needed %s" % (", ".join(missing), why))
        sys.exit(SKIP)


def output(*args):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, text=True).stdout


def check_control(deb, version):
    text = output("dpkg-deb", "--field", deb)
    print(text)
    fields = {}
    for line in text.splitlines():
        if line.strip() and not line[:1].isspace():  # not the long description's lines
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    expected = {"Package": "tavimo", "Section": "graphics",
                "Architecture": output("dpkg", "--print-architecture").strip()}
    if version:
        expected["Version"] = version
    for key, value in expected.items():
        if fields.get(key) != value:
            fail("%s is %r, expected %r" % (key, fields.get(key), value))
    for key in ("Maintainer", "Description", "Installed-Size"):
        if not fields.get(key):
            fail(key + " is missing")
    depends = {d.split("(")[0].strip() for d in fields.get("Depends", "").split(",")}
    for package in REQUIRED_DEPENDS:
        if package not in depends:
            fail("Depends lacks %s: %r" % (package, fields.get("Depends")))


def check_files(deb):
    files = {}
    for line in output("dpkg-deb", "--contents", deb).splitlines():
        mode, name = line.split()[0], line.split()[-1]
        if not mode.startswith("d"):
            files[name.lstrip(".")] = mode
    print("\n".join(sorted(files)))
    outside = [f for f in files if not f.startswith("/usr/")]
    if outside:
        fail("files outside /usr: %s" % outside)
    if files.get("/usr/bin/tavimo", "")[:4] != "-rwx":
        fail("/usr/bin/tavimo is missing or not executable")
    wanted = ["/usr/share/icons/hicolor/%dx%d/apps/tavimo.png" % (s, s)
              for s in (32, 48, 64, 128, 256)]
    wanted += ["/usr/share/doc/tavimo/" + f for f in ("copyright", "changelog.gz")]
    wanted += ["/usr/share/man/%sman1/tavimo.1.gz" % lang for lang in MANUAL_LANGUAGES]
    for name in wanted:
        if name not in files:
            fail(name + " is missing")
    for pattern in ("/usr/share/applications/", "/usr/share/metainfo/"):
        if len([f for f in files if f.startswith(pattern)]) != 1:
            fail("expected one file in " + pattern)
    stray = [f for f in files if f.endswith((".a", ".h", ".cmake", ".o"))]
    if stray:
        fail("build leftovers in the package: %s" % stray)


def check_docs(root, version):
    with gzip.open(os.path.join(root, "usr/share/doc/tavimo/changelog.gz"), "rt") as changelog:
        newest = changelog.readline()
    if version and not newest.startswith("tavimo (%s) " % version):
        fail("the changelog's newest entry is %r, the package is %s" % (newest, version))
    # Rendered as lintian renders them, at a terminal's usual 80 columns. Japanese text, which
    # has no spaces, may leave groff unable to break or fill a line; every other warning counts.
    # The English page also as the C locale shows it, on an ASCII terminal, where its Japanese
    # names are left out beside their glosses.
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANROFFSEQ="")
    renderings = [(lang, env, ["-E", "UTF-8", "-Tutf8"]) for lang in MANUAL_LANGUAGES]
    renderings.append(("", dict(env, LC_ALL="C"), ["-E", "ascii", "-Tascii"]))
    for lang, locale_env, device in renderings:
        page = os.path.join(root, "usr/share/man", lang, "man1/tavimo.1.gz")
        warnings = subprocess.run(["man", "--warnings"] + device + ["-l", "-Z", page],
                                  env=locale_env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True, check=True).stderr.splitlines()
        if lang:
            warnings = [w for w in warnings if not re.search(r"can't break|cannot adjust", w)]
        if warnings:
            fail("man reports on %s:\n%s" % (page, "\n".join(warnings)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--deb", required=True)
    parser.add_argument("--version")
    args = parser.parse_args()

    need(["dpkg-deb", "dpkg", "man"], "to read the package (dpkg, man-db)")
    with tempfile.TemporaryDirectory(prefix="tavimo-package-") as scratch:
        check_control(args.deb, args.version)
        check_files(args.deb)
        root = os.path.join(scratch, "root")
        subprocess.run(["dpkg-deb", "-x", args.deb, root], check=True)
        check_docs(root, args.version)
    print("ok: " + os.path.basename(args.deb))


if __name__ == "__main__":
    main()
