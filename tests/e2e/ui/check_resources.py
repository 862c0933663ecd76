#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reads the resources of a built Tidewell.exe straight from its PE file and checks them
against the template tables: both dialogs byte for byte in every field, the string tables, the
icon group and its images, the version block, the manifest, and the package under RCDATA 1.

Usage: check_resources.py EXE LEVEL [PACKAGE | --no-package]
LEVEL is the execution level the manifest must ask for.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

RT_ICON, RT_DIALOG, RT_STRING, RT_RCDATA, RT_GROUP_ICON, RT_VERSION = 3, 5, 6, 10, 14, 16
RT_MANIFEST = 24
EN, JA = 0x0409, 0x0411

WS_CHILD, WS_CHILD_VISIBLE = 0x40000000, 0x50000000
WS_GROUP, WS_TABSTOP = 0x00020000, 0x00010000
SS_ICON, SS_LEFT, SS_NOPREFIX, SS_ETCHEDHORZ = 0x3, 0x0, 0x80, 0x10
BS_PUSHBUTTON, BS_DEFPUSHBUTTON, PBS_SMOOTH = 0x0, 0x1, 0x1
BUTTON, STATIC = 0x80, 0x82

TEXT_STYLE = WS_CHILD_VISIBLE | SS_LEFT | SS_NOPREFIX | WS_GROUP
DIALOGS = {
    EN: {
        "rect": (22, 17, 237, 140),
        "caption": "%s Update Program",
        "font": (8, "Tahoma"),
        "controls": [
            (2, STATIC, WS_CHILD_VISIBLE | SS_ICON, (19, 12, 21, 20), 107),
            (1002, STATIC, TEXT_STYLE, (68, 10, 154, 22),
             "Welcome to the Vellumstone Patch Wizard for\r%s"),
            (0xFFFF, STATIC, WS_CHILD_VISIBLE | SS_ETCHEDHORZ, (7, 113, 223, 1), ""),
            (1000, BUTTON, WS_CHILD_VISIBLE | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP,
             (121, 118, 50, 14), "&Update"),
            (3, BUTTON, WS_CHILD_VISIBLE | BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP,
             (178, 118, 50, 14), "&Cancel"),
            (1003, STATIC, TEXT_STYLE, (68, 43, 154, 35),
             "The Vellumstone Patch Wizard will allow you to update to %s, "
             "To continue, click Update."),
            (1005, STATIC, WS_CHILD | SS_LEFT | SS_NOPREFIX, (22, 82, 194, 8), "Progress"),
            (1004, "MSCTLS_PROGRESS32", WS_CHILD_VISIBLE | PBS_SMOOTH, (22, 92, 194, 7),
             "Progress1"),
        ],
    },
    JA: {
        "rect": (22, 17, 219, 140),
        "caption": "%s アップデート",
        "font": (9, "ＭＳ Ｐゴシック"),
        "controls": [
            (2, STATIC, WS_CHILD_VISIBLE | SS_ICON, (5, 5, 20, 20), 107),
            (1002, STATIC, TEXT_STYLE, (35, 5, 180, 30),
             "このプログラムは次の製品をアップデートします。\n\n%s"),
            (0xFFFF, STATIC, WS_CHILD_VISIBLE | SS_ETCHEDHORZ, (2, 110, 215, 1), ""),
            (1000, BUTTON, WS_CHILD_VISIBLE | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP,
             (105, 119, 50, 16), "更新(&U)"),
            (3, BUTTON, WS_CHILD_VISIBLE | BS_PUSHBUTTON | WS_GROUP | WS_TABSTOP,
             (162, 120, 50, 16), "キャンセル(&C)"),
            (1003, STATIC, TEXT_STYLE, (35, 45, 180, 35),
             "%sの更新する場合は［更新］ボタンをクリックしてください。"),
            (1005, STATIC, WS_CHILD | SS_LEFT | SS_NOPREFIX, (35, 82, 170, 9), "進行状況"),
            (1004, "MSCTLS_PROGRESS32", WS_CHILD_VISIBLE | PBS_SMOOTH, (35, 92, 170, 7),
             "Progress1"),
        ],
    },
}
STRINGS = {
    EN: {103: "Tidewell", 106: "Hello World!", 109: "TIDEWELL", 110: "&Finish",
         120: "Updating %s", 121: "1033", 122: "Usage",
         123: "Updating to %s. Please wait: the update runs by itself and closes when it is done."},
    JA: {103: "プログラムアップデート", 106: "Hello World!", 109: "プログラムアップデート",
         110: "終了(&F)", 120: "%sを更新しています", 121: "1041", 122: "使い方",
         123: "%s に更新しています。更新は自動で進み、終わると閉じます。しばらくお待ちください。"},
}
VERSION_STRINGS = {
    "Comments": "", "LegalTrademarks": "", "PrivateBuild": "", "SpecialBuild": "",
    "FileDescription": "Tidewell", "FileVersion": "1, 0, 0, 1", "ProductVersion": "1, 0, 0, 1",
    "InternalName": "Tidewell.exe", "OriginalFilename": "Tidewell.exe",
    "ProductName": "Vellumstone Tidewell",
}

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def resources(path):
    """{(type, id, language): bytes} of the PE file's resource directory (ids only)."""
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = pe + 24 + optional
    for i in range(sections):
        _, vsize, va, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if va <= rsrc_rva < va + max(vsize, rawsize):
            base = rawptr + (rsrc_rva - va)
            delta = va - rawptr
            break
    else:
        raise SystemExit("no resource section")

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * k)
            yield name, target

    found = {}
    for rtype, t in entries(0):
        for rid, r in entries(t & 0x7FFFFFFF):
            for lang, leaf in entries(r & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                found[(rtype, rid, lang)] = data[rva - delta:rva - delta + size]
    return found


def read_sz(blob, offset):
    end = offset
    while blob[end:end + 2] != b"\0\0":
        end += 2
    return blob[offset:end].decode("utf-16-le"), end + 2


def read_sz_or_ord(blob, offset):
    if blob[offset:offset + 2] == b"\xff\xff":
        return struct.unpack_from("<H", blob, offset + 2)[0], offset + 4
    return read_sz(blob, offset)


def check_dialog(lang, blob):
    want = DIALOGS[lang]
    name = "dialog 103/%04x" % lang
    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", blob, 0)
    check(style == 0x00C808C0, "%s style %#x" % (name, style))
    check(exstyle == 0, "%s extended style %#x" % (name, exstyle))
    check(count == len(want["controls"]), "%s has %d controls" % (name, count))
    check((x, y, cx, cy) == want["rect"], "%s rect %s" % (name, (x, y, cx, cy)))
    pos = 18
    menu, pos = read_sz_or_ord(blob, pos)
    cls, pos = read_sz_or_ord(blob, pos)
    caption, pos = read_sz(blob, pos)
    check(menu == "" and cls == "", "%s menu %r class %r" % (name, menu, cls))
    check(caption == want["caption"], "%s caption %r" % (name, caption))
    points = struct.unpack_from("<H", blob, pos)[0]
    face, pos = read_sz(blob, pos + 2)
    check((points, face) == want["font"], "%s font %s" % (name, (points, face)))
    for index, (cid, ccls, cstyle, crect, ctext) in enumerate(want["controls"]):
        pos = (pos + 3) & ~3
        s, es, x, y, cx, cy, i = struct.unpack_from("<IIhhhhH", blob, pos)
        pos += 18
        c, pos = read_sz_or_ord(blob, pos)
        t, pos = read_sz_or_ord(blob, pos)
        extra = struct.unpack_from("<H", blob, pos)[0]
        pos += 2 + extra
        tag = "%s control %d (id %d)" % (name, index, cid)
        check(i == cid, "%s id %d" % (tag, i))
        check(s == cstyle, "%s style %#x, want %#x" % (tag, s, cstyle))
        check(es == 0, "%s extended style %#x" % (tag, es))
        check((x, y, cx, cy) == crect, "%s rect %s" % (tag, (x, y, cx, cy)))
        check(c == ccls, "%s class %r" % (tag, c))
        check(t == ctext, "%s text %r" % (tag, t))
        if isinstance(t, str):
            t.encode("cp932")  # every text must exist in the Japanese code page


def check_strings(lang, block, blob):
    pos = 0
    for index in range(16):
        length = struct.unpack_from("<H", blob, pos)[0]
        text = blob[pos + 2:pos + 2 + 2 * length].decode("utf-16-le")
        pos += 2 + 2 * length
        sid = 16 * (block - 1) + index
        want = STRINGS[lang].get(sid, "")
        check(text == want, "string %d/%04x %r, want %r" % (sid, lang, text, want))
        text.encode("cp932")


def check_icons(found):
    group = found.get((RT_GROUP_ICON, 107, JA))
    check(group is not None, "icon group 107 under Japanese")
    check(not any(k[0] == RT_GROUP_ICON and k[2] != JA for k in found), "icon group language")
    if group is None:
        return
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    check(kind == 1 and count == 4, "icon group holds %d images" % count)
    want = [(16, 16, 4), (16, 0, 8), (32, 16, 4), (32, 0, 8)]
    for k in range(count):
        w, h, colours, _, planes, bits, size, iid = struct.unpack_from("<BBBBHHIH", group,
                                                                        6 + 14 * k)
        check((w, colours, bits) == want[k], "icon %d is %s" %
              (k + 1, (w, h, colours, bits)))
        check(iid == k + 1, "icon image id %d" % iid)
        image = found.get((RT_ICON, iid, JA))
        check(image is not None and len(image) == size, "icon image %d" % iid)
        if image:
            hsize, iw, ih, _, ibits = struct.unpack_from("<IiiHH", image, 0)
            check((iw, ih, ibits) == (w, 2 * w, bits), "icon image %d header" % iid)


def check_version(found):
    blob = found.get((RT_VERSION, 1, JA))
    check(blob is not None, "version block under Japanese")
    check(not any(k[0] == RT_VERSION and k[2] != JA for k in found), "version language")
    if blob is None:
        return
    fixed = blob.find(struct.pack("<I", 0xFEEF04BD))
    (sig, ver, fvms, fvls, pvms, pvls, mask, flags, fos, ftype, fsub, dms,
     dls) = struct.unpack_from("<13I", blob, fixed)
    check((fvms, fvls, pvms, pvls) == (0x10000, 1, 0x10000, 1), "version numbers")
    check((mask, flags, fos, ftype, fsub, dms, dls) == (0x3F, 0, 0x40004, 1, 0, 0, 0),
          "fixed version fields %s" % ((mask, flags, fos, ftype, fsub, dms, dls),))
    text = blob.decode("utf-16-le", errors="replace")
    check("041104b0" in text, "string table 041104b0")
    for key, value in VERSION_STRINGS.items():
        at = text.find(key + "\0")
        check(at >= 0, "version key %s" % key)
        if at < 0:
            continue
        after = text[at + len(key):].lstrip("\0")
        got = after.split("\0", 1)[0] if value else ""
        check(got == value, "version %s = %r" % (key, got))
    for key in ("CompanyName", "LegalCopyright"):
        check(key + "\0" in text, "version key %s" % key)
    translation = blob.find("Translation".encode("utf-16-le"))
    check(translation >= 0 and struct.pack("<HH", 0x411, 1200) in blob[translation:],
          "translation 0x0411, 1200")


# supportedOS ids of Windows 8.1 and 10: with either, Windows reports 10.0, a release the
# shortcut folders' table takes for an old one.
TOO_NEW_OS = {"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def check_manifest(found, level):
    keys = [k for k in found if k[0] == RT_MANIFEST]
    check(keys == [(RT_MANIFEST, 1, 0)], "manifest resources %s" % keys)
    if not keys:
        return
    root = ElementTree.fromstring(found[keys[0]])
    levels = [e.get("level") for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
    check(levels == [level], "execution levels %s, want %s" % (levels, level))
    ids = {e.get("Id", "").lower() for e in root.iter() if e.tag.endswith("}supportedOS")}
    check(not ids & TOO_NEW_OS, "supportedOS of Windows 8.1 or later: %s" % (ids & TOO_NEW_OS))
    # Common controls 6 would draw the dialog in another look than it was laid out for.
    aware = [e.text for e in root.iter() if e.tag.endswith("}dpiAware")]
    check(aware == ["true"], "dpiAware %s" % aware)
    names = [e.get("name") for e in root.iter() if e.tag.endswith("}assemblyIdentity")]
    check("Microsoft.Windows.Common-Controls" not in names, "asks for common controls 6")


def main():
    found = resources(sys.argv[1])
    level = sys.argv[2]
    del sys.argv[2]
    for lang in (EN, JA):
        blob = found.get((RT_DIALOG, 103, lang))
        check(blob is not None, "dialog 103 in %04x" % lang)
        if blob:
            check_dialog(lang, blob)
        for block in sorted({sid // 16 + 1 for sid in STRINGS[lang]}):
            table = found.get((RT_STRING, block, lang))
            check(table is not None, "string block %d in %04x" % (block, lang))
            if table:
                check_strings(lang, block, table)
    check_icons(found)
    check_version(found)
    check_manifest(found, level)
    packages = [k for k in found if k[0] == RT_RCDATA]
    if len(sys.argv) > 2 and sys.argv[2] == "--no-package":
        check(packages == [], "no package: found %s" % packages)
    elif len(sys.argv) > 2:
        # The steps beside the package (PACKAGE.extras) are RCDATA 2 where build wrote any.
        extras = sys.argv[2] + ".extras"
        want = [(RT_RCDATA, 1, EN)] + ([(RT_RCDATA, 2, EN)] if os.path.exists(extras) else [])
        check(sorted(packages) == want, "package resources %s" % packages)
        check(found.get((RT_RCDATA, 1, EN)) == open(sys.argv[2], "rb").read(),
              "RCDATA 1 is the package file")
        if os.path.exists(extras):
            check(found.get((RT_RCDATA, 2, EN)) == open(extras, "rb").read(),
                  "RCDATA 2 is the steps file beside the package")
    for failure in failures:
        print("FAIL:", failure)
    print("%s: %d resources, %d failures" % (sys.argv[1], len(found), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
