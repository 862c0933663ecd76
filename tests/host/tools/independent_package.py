#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A package laid out byte by byte from the format's tables, without the project's writer,
and the listing tidepack must print for it.

    independent_package.py write PACKAGE           write the package
    independent_package.py check TIDEPACK WORKDIR  write it, run tidepack list and verify on it
    independent_package.py readme TIDEPACK GUIDE WORKDIR
        build the vendor's guide's manifest example twice with tidepack, read the package here
"""
import os
import re
import struct
import subprocess
import sys
import zlib

HEADER = 2488
ENTRY = 4368
MOVE = 520


def text(value, width, codepage="cp932"):
    data = value.encode(codepage)
    assert len(data) < width
    return data + b"\0" * (width - len(data))


def package():
    files = [
        # fileName, folder, shortcut text, flags, data
        ("tool.exe", "<InstallDir>", "<ProgramMenu>\\Example\\Tool;\r\n<Desktop>\\Tool;--safe", 0x11,
         b"MZ" + bytes(range(256)) * 40),
        ("guide.txt", "<installdir>\\Help", "", 0x101, b"read me\r\n" * 300),
        ("shared.dll", "<SystemDir>", "", 0x01, b""),
        ("fixed.dat", "C:\\Fixed", "", 0x00, b"x"),
        ("説明.txt", "<WindowsDir>", "", 0x10, "日本語のテキスト".encode("cp932")),
    ]
    header = struct.pack("<I", 0x1060)
    header += text("サンプル製品", 64)
    header += text("2.1.0", 16)
    header += text("HKEY_LOCAL_MACHINE\\Software\\Example\\App", 256)
    header += text("InstallDir", 32)
    header += text("C:\\Program Files\\Example", 256)
    header += text("", 256)
    header += struct.pack("<i", len(files))
    apps = [("", "unused"), ("ExampleMain", "Example を終了してください。")]
    for k in range(5):
        cls, msg = apps[k] if k < len(apps) else ("", "")
        header += text(cls, 64) + text(msg, 256)
    assert len(header) == HEADER

    streams = [zlib.compress(data, 6) for *_, data in files]
    # Streams out of entry order; the last entry's stream stays last.
    order = [2, 0, 3, 1, 4]
    position = HEADER + ENTRY * len(files)
    offsets = {}
    for i in order:
        offsets[i] = position
        position += len(streams[i])
    table = b""
    for i, (name, folder, shortcuts, flags, data) in enumerate(files):
        entry = struct.pack("<III", offsets[i], len(streams[i]), len(data))
        entry += text(name, 128) + text(folder, 128) + text(shortcuts, 4096)
        entry += struct.pack("<I", flags)
        assert len(entry) == ENTRY
        table += entry
    moves = [("<Desktop>\\Old Tool", "<ProgramMenu>\\Example\\Old Tool"), ("<StartMenu>\\Gone", "")]
    tail = struct.pack("<i", len(moves))
    for src, dst in moves:
        tail += text(src, 260) + text(dst, 260)
    return header + table + b"".join(streams[i] for i in order) + tail


EXPECTED_LIST = """\
header
  reserved       0x00001060
  title          サンプル製品
  versionText    2.1.0
  registryKey    HKEY_LOCAL_MACHINE\\Software\\Example\\App
  valueName      InstallDir
  defaultFolder  C:\\Program Files\\Example
  subFolder      
  entryCount     5
  install folder D:\\Apps\\Example\\ (--install-dir)

running applications
  [1] windowClass ExampleMain
      message     Example を終了してください。

entries
  [0] size 10242, compressed {c0} at offset {o0}
      flags    0x11 ENTRY_ALWAYS_REPLACE|ENTRY_RUN_AFTER
      fileName tool.exe
      folder   <InstallDir>
      target   D:\\Apps\\Example\\tool.exe
      shortcut <ProgramMenu>\\Example\\Tool;
      shortcut <Desktop>\\Tool;--safe
  [1] size 2700, compressed {c1} at offset {o1}
      flags    0x101 ENTRY_ALWAYS_REPLACE|0x100
      fileName guide.txt
      folder   <installdir>\\Help
      target   D:\\Apps\\Example\\Help\\guide.txt
  [2] size 0, compressed {c2} at offset 24328
      flags    0x01 ENTRY_ALWAYS_REPLACE
      fileName shared.dll
      folder   <SystemDir>
      target   E:\\WIN\\SYSTEM32\\shared.dll
  [3] size 1, compressed {c3} at offset {o3}
      flags    0x00 none
      fileName fixed.dat
      folder   C:\\Fixed
      target   no target
  [4] size 16, compressed {c4} at offset {o4}
      flags    0x10 ENTRY_RUN_AFTER
      fileName 説明.txt
      folder   <WindowsDir>
      target   E:\\WIN\\説明.txt

shortcut moves
  moveCount 2 at offset {m}
  [0] from <Desktop>\\Old Tool
      to   <ProgramMenu>\\Example\\Old Tool
  [1] from <StartMenu>\\Gone
      to   (empty: delete)
"""


def expected(data):
    values = {}
    for i in range(5):
        offset, compressed = struct.unpack_from("<II", data, HEADER + ENTRY * i)
        values["o%d" % i] = offset
        values["c%d" % i] = compressed
    values["m"] = values["o4"] + values["c4"]
    return EXPECTED_LIST.format(**values)


def cstring(data, offset, width):
    field = data[offset:offset + width]
    assert b"\0" in field, "text at %d does not end in its field" % offset
    return field[:field.index(b"\0")]


def read_package(data):
    """Every record of a package, read from the format's tables; every stream inflated."""
    count, = struct.unpack_from("<i", data, 884)
    header = {
        "title": cstring(data, 4, 64), "versionText": cstring(data, 68, 16),
        "registryKey": cstring(data, 84, 256), "valueName": cstring(data, 340, 32),
        "defaultFolder": cstring(data, 372, 256), "subFolder": cstring(data, 628, 256),
        "apps": [(cstring(data, 888 + 320 * k, 64), cstring(data, 952 + 320 * k, 256))
                 for k in range(5)],
    }
    entries = []
    for i in range(count):
        at = HEADER + ENTRY * i
        offset, compressed, size = struct.unpack_from("<III", data, at)
        assert offset + compressed <= len(data)
        inflated = zlib.decompress(data[offset:offset + compressed])
        assert len(inflated) == size
        entries.append({"fileName": cstring(data, at + 12, 128), "folder": cstring(data, at + 140, 128),
                        "shortcutText": cstring(data, at + 268, 4096),
                        "flags": struct.unpack_from("<I", data, at + 4364)[0], "data": inflated})
    moves = []
    if count > 0:
        last = HEADER + ENTRY * (count - 1)
        table = sum(struct.unpack_from("<II", data, last))
        moveCount, = struct.unpack_from("<i", data, table)
        for r in range(moveCount):
            at = table + 4 + MOVE * r
            moves.append((cstring(data, at, 260), cstring(data, at + 260, 260)))
        assert table + 4 + MOVE * max(moveCount, 0) == len(data)
    return header, entries, moves


def readme(tidepack, readme_path, workdir):
    text = open(readme_path, encoding="utf-8").read()
    manifest = re.search(r"```toml\n(.*?)```", text, re.S).group(1)
    os.makedirs(workdir, exist_ok=True)
    with open(os.path.join(workdir, "patch.toml"), "w", encoding="utf-8") as f:
        f.write(manifest)
    sources = re.findall(r"^source = '([^']*)'", manifest, re.M)
    for source in sources:
        path = os.path.join(workdir, source)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(("contents of " + source + "\n").encode() * 50)
    packages = []
    for name in ("a.pkg", "b.pkg"):
        path = os.path.join(workdir, name)
        subprocess.run([tidepack, "build", os.path.join(workdir, "patch.toml"), "-o", path], check=True)
        packages.append(open(path, "rb").read())
    assert packages[0] == packages[1], "two builds differ"
    subprocess.run([tidepack, "verify", os.path.join(workdir, "a.pkg")], check=True)
    header, entries, moves = read_package(packages[0])
    assert header["title"] == "潮騒ノート".encode("cp932")
    assert header["apps"][0][0] == b"ShiosaiNotesMain"
    assert [e["folder"] for e in entries] == [b"<InstallDir>", b"<InstallDir>\\help"]
    assert entries[0]["flags"] == 0x01 and entries[1]["flags"] == 0
    assert entries[0]["shortcutText"] == (b"<ProgramMenu>\\Shiosai Notes\\Shiosai Notes;\r\n"
                                          b"<Desktop>\\Shiosai Notes;--new-note")
    assert entries[1]["fileName"] == b"guide.txt"
    for source, entry in zip(sources, entries):
        assert entry["data"] == open(os.path.join(workdir, source), "rb").read()
    assert moves == [(b"<Desktop>\\Notes 2.0", b"<ProgramMenu>\\Shiosai Notes\\Notes 2.0")]
    return 0


def check(tidepack, workdir):
    path = workdir + "/independent.pkg"
    data = package()
    with open(path, "wb") as f:
        f.write(data)
    listing = subprocess.run(
        [tidepack, "list", "--install-dir", "D:\\Apps\\Example\\", "--windows-dir", "E:\\WIN",
         "--system-dir", "E:\\WIN\\SYSTEM32\\", path], capture_output=True)
    out = listing.stdout.decode("utf-8")
    body = out[out.index("header\n"):]
    failed = False
    if listing.returncode != 0 or listing.stderr:
        print("list failed:", listing.returncode, listing.stderr.decode())
        failed = True
    if body != expected(data):
        print("list printed:\n" + body + "\nexpected:\n" + expected(data))
        failed = True
    # The entry without a placeholder is the one fault verify must name.
    verify = subprocess.run([tidepack, "verify", path], capture_output=True)
    faults = [l for l in verify.stderr.decode().splitlines() if "warning" not in l]
    if verify.returncode != 1 or len(faults) != 2 or "entry 3 (fixed.dat)" not in faults[0]:
        print("verify gave", verify.returncode, verify.stderr.decode())
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "write":
        with open(sys.argv[2], "wb") as f:
            f.write(package())
        sys.exit(0)
    if len(sys.argv) == 5 and sys.argv[1] == "readme":
        sys.exit(readme(sys.argv[2], sys.argv[3], sys.argv[4]))
    if len(sys.argv) == 4 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], sys.argv[3]))
    print(__doc__)
    sys.exit(2)
