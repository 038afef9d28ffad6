#!/usr/bin/env python3
"""regsvr32 registers exactly the standard keys of the server and /u removes exactly those.

Usage: registration_test.py RUN_SH BITS DLL_WINDOWS_PATH WORK_DIR [OTHER_WIDTH_DLL_WINDOWS_PATH]
The whole of HKLM\\Software and HKCU\\Software is exported before, after registering and after
unregistering; the differences must be the server's keys and nothing else. With the other width's
DLL, both are registered side by side and each is unregistered in turn: the other must still be
created from its own script host, and the type library must point at files that exist. With both
registered, a script host of either width holding COM4 keeps one of the other width out.
"""
import os
import select
import subprocess
import sys
import time

CLSID = "{6570A0BF-9B8E-46CF-8EFE-E08580A34D9C}"
IID = "{081D19C9-FC85-4717-93FE-DFDC9FDD014A}"
LIBID = "{18E6F27D-DC63-4F6A-A9DB-23F965478573}"
PROGID = "OstrelZeltoDLL.ZeltoDLL"
# A key is the server's when one of these pairs of names follows each other in its path.
OURS = {("clsid", CLSID.lower()), ("interface", IID.lower()), ("typelib", LIBID.lower()),
        ("classes", PROGID.lower())}
ROOTS = [f"HKCR\\CLSID\\{CLSID}", f"HKCR\\{PROGID}", f"HKCR\\Interface\\{IID}",
         f"HKCR\\TypeLib\\{LIBID}"]

run_sh, bits, dll, work = sys.argv[1:5]
other_dll = sys.argv[5] if len(sys.argv) > 5 else None
other_bits = "32" if bits == "64" else "64"
failures = []


def check(condition, message):
    print(("ok   " if condition else "FAIL ") + message)
    if not condition:
        failures.append(message)


def wine(*args, width=None):
    return subprocess.run([run_sh, width or bits, *args], capture_output=True, text=True)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def export():
    """Every key under the two Software roots -> its value lines."""
    keys = {}
    for root in ("HKLM\\Software", "HKCU\\Software"):
        target = os.path.join(work, "export.reg")
        # The 64-bit view shows every key, those of 32-bit processes included.
        result = wine("reg", "export", root, win_path(target), "/y", width="64")
        if result.returncode != 0:
            sys.exit(f"reg export {root} failed: {result.stderr}")
        with open(target, encoding="utf-16") as f:
            key = None
            for line in f.read().splitlines():
                if line.startswith("[") and line.endswith("]"):
                    key = line[1:-1].lower()
                    keys[key] = []
                elif key is not None and line:
                    keys[key].append(line)
    return keys


def ours(key):
    """Whether a key belongs to the server's registration (in any registry view)."""
    parts = key.lower().split("\\")
    return any(pair in OURS for pair in zip(parts, parts[1:]))


def query(key):
    return wine("reg", "query", key, "/s")


def unix_path(path):
    return path[2:].replace("\\", "/") if path[:2].upper() == "Z:" else path


def creates(width):
    """Whether a script host of that width creates the object."""
    script = os.path.join(work, "create.vbs")
    with open(script, "w") as f:
        f.write('On Error Resume Next\r\nSet b = CreateObject("' + PROGID + '")\r\n'
                'WScript.Echo "created " & Err.Number\r\n')
    out = wine("cscript", "//nologo", win_path(script), width=width).stdout
    return "created 0" in out


def build_dir():
    """The build tree around the working directory, whose wine-ports folder holds COM1..COM4."""
    d = os.getcwd()
    while not os.path.exists(os.path.join(d, "CMakeCache.txt")):
        d = os.path.dirname(d)
    return d


def received(master, want, seconds):
    """What the board's end of the port gets, up to want bytes within the time, answering the
    opening's 0x01."""
    got = b""
    end = time.monotonic() + seconds
    while len(got) < want and (left := end - time.monotonic()) > 0 and \
            select.select([master], [], [], left)[0]:
        try:
            chunk = os.read(master, 64)
        except OSError:  # no opener left
            break
        if b"\x01" in chunk:
            os.write(master, b"\x33")
        got += chunk
    return got


def port_held_across_widths():
    """While a script host of one width holds COM4, one of the other width is refused with 8102
    and writes nothing; the holder's opening is all the port gets."""
    master, slave = os.openpty()
    link = os.path.join(build_dir(), "wine-ports", "com4")
    stop = os.path.join(work, "stop")
    if os.path.lexists(link):
        os.remove(link)
    os.symlink(os.ttyname(slave), link)
    hold, try_open = (os.path.join(work, name) for name in ("hold.vbs", "open.vbs"))
    with open(hold, "w") as f:
        f.write(f'Set b = CreateObject("{PROGID}")\r\nb.CommPort = 4\r\nb.portopen = True\r\n'
                'Set fs = CreateObject("Scripting.FileSystemObject")\r\nt = Timer\r\n'
                f'Do While Not fs.FileExists("{win_path(stop)}") And Timer - t < 30\r\nLoop\r\n')
    with open(try_open, "w") as f:
        f.write(f'On Error Resume Next\r\nSet b = CreateObject("{PROGID}")\r\nb.CommPort = 4\r\n'
                'b.portopen = True\r\nWScript.Echo "opening " & Err.Number\r\n')
    try:
        for holder, other in ((bits, other_bits), (other_bits, bits)):
            if os.path.exists(stop):
                os.remove(stop)
            host = subprocess.Popen([run_sh, holder, "cscript", "//nologo", win_path(hold)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            opening = received(master, 6, 20)
            check(opening == bytes.fromhex("00 01 04 80 02 80"),
                  f"a {holder}-bit script host opens COM4 ({opening.hex(' ')})")
            out = wine("cscript", "//nologo", win_path(try_open), width=other).stdout.strip()
            check("opening 8102" in out, f"a {other}-bit script host is refused with 8102 ({out})")
            sent = received(master, 1, 0.5)
            check(sent == b"", f"the refused opener wrote nothing ({sent.hex(' ')})")
            open(stop, "w").close()
            host.wait(30)
    finally:
        os.remove(link)
        os.close(master)
        os.close(slave)


def library_points_at(staying):
    """The type library's help folder and every file it is registered with are the staying DLL's
    and exist."""
    out = query(f"HKCR\\TypeLib\\{LIBID}\\5.0").stdout.replace("\r", "")
    paths = [line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if "REG_SZ" in line]
    paths = [p for p in paths if p.upper().startswith("Z:")]
    folder = staying.rsplit("\\", 1)[0].lower()
    return bool(paths) and all(p.lower().startswith(folder) and os.path.exists(unix_path(p))
                               for p in paths), paths


def side_by_side():
    mine, other = (dll, bits), (other_dll, other_bits)
    for path, width in (mine, other):
        check(wine("regsvr32", "/s", path, width=width).returncode == 0,
              f"{width}-bit registers beside the other width")
    for width in (bits, other_bits):
        check(creates(width), f"{width}-bit script host creates the object with both registered")
    port_held_across_widths()
    for gone, stays in ((mine, other), (other, mine)):
        check(wine("regsvr32", "/s", "/u", gone[0], width=gone[1]).returncode == 0,
              f"{gone[1]}-bit unregisters")
        check(not creates(gone[1]), f"{gone[1]}-bit script host no longer creates the object")
        check(creates(stays[1]), f"{stays[1]}-bit still creates it after {gone[1]}-bit left")
        right, paths = library_points_at(stays[0])
        check(right, f"the type library points at the {stays[1]}-bit DLL's files {paths}")
        wine("regsvr32", "/s", gone[0], width=gone[1])
    for path, width in (mine, other):
        wine("regsvr32", "/s", "/u", path, width=width)
    # The other width's script host may have registered system libraries of its own on first use.
    left = sorted(k for k in export() if ours(k))
    check(not left, f"after both widths left no key of the server is left {left[:5]}")


def main():
    os.makedirs(work, exist_ok=True)
    # A clean start if an earlier run was interrupted.
    wine("regsvr32", "/s", "/u", dll)
    if other_dll:
        wine("regsvr32", "/s", "/u", other_dll, width=other_bits)
    before = export()
    check(not any(ours(k) for k in before), "no key of the server before registering")

    result = wine("regsvr32", "/s", dll)
    check(result.returncode == 0, f"regsvr32 exits 0 (got {result.returncode})")
    after = export()

    added = set(after) - set(before)
    removed = set(before) - set(after)
    changed = {k for k in set(before) & set(after) if before[k] != after[k]}
    check(not removed, f"nothing removed by registering {sorted(removed)[:5]}")
    check(not changed, f"no existing key changed by registering {sorted(changed)[:5]}")
    strangers = sorted(k for k in added if not ours(k))
    check(not strangers, f"only the server's keys added {strangers[:5]}")

    # Where a process of this width sees HKEY_CLASSES_ROOT.
    classes = "hkey_local_machine\\software\\classes"
    if bits == "32":
        classes += "\\wow6432node"
    clsid = f"{classes}\\clsid\\{CLSID.lower()}"
    expected = {
        clsid: ['@="ZeltoDLL"'],
        clsid + "\\inprocserver32": ['@="' + dll.replace("\\", "\\\\") + '"',
                                     '"ThreadingModel"="Apartment"'],
        clsid + "\\progid": [f'@="{PROGID}"'],
        clsid + "\\typelib": [f'@="{LIBID}"'],
        clsid + "\\version": ['@="5.0"'],
        f"hkey_local_machine\\software\\classes\\{PROGID.lower()}": ['@="ZeltoDLL"'],
        f"hkey_local_machine\\software\\classes\\{PROGID.lower()}\\clsid": [f'@="{CLSID}"'],
    }
    for key, values in expected.items():
        check(after.get(key) == values, f"{key} = {values} (got {after.get(key)})")
    interface = [k for k in added if k.endswith(f"interface\\{IID.lower()}\\typelib")]
    check(bool(interface), "the interface is registered with its type library")
    win = "win64" if bits == "64" else "win32"
    typelib = [k for k in added if k.endswith(f"{LIBID.lower()}\\5.0\\0\\{win}")]
    check(bool(typelib), f"the type library 5.0, locale 0, {win} is registered")

    for key in ROOTS:
        check(query(key).returncode == 0, f"reg query {key} finds it")

    result = wine("regsvr32", "/s", "/u", dll)
    check(result.returncode == 0, f"regsvr32 /u exits 0 (got {result.returncode})")
    for key in ROOTS:
        check(query(key).returncode == 1, f"reg query {key} no longer finds it")
    gone = export()
    check(gone == before, "unregistering restores the registry exactly: "
          f"{sorted(set(gone) ^ set(before))[:5]}")

    result = wine("regsvr32", "/s", "/u", dll)
    check(result.returncode == 0, "unregistering twice is no error")
    if other_dll:
        side_by_side()

    print(f"{len(failures)} failed")
    return 1 if failures else 0


sys.exit(main())
