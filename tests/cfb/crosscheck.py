#!/usr/bin/env python3
"""Cross-checks of our compound-file reader and writer against independent implementations.

  crosscheck.py olefile CFB_TOOL WORKDIR   files of our writer (versions 3 and 4) read stream by
                                           stream by Python's olefile
  crosscheck.py gsf CFB_TOOL WORKDIR       files made by libgsf's `gsf createole` read by our
                                           reader

Manifests are lines "path<TAB>size<TAB>fnv1a64" sorted by path, as cfb_tool prints them.
"""
import os
import random
import shutil
import subprocess
import sys


def fnv1a(data):
    h = 0xcbf29ce484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return h


def manifest(items):
    return sorted("%s\t%d\t%016x" % (p, len(d), fnv1a(d)) for p, d in items)


def tool(cfb_tool, *args):
    out = subprocess.run([cfb_tool, *args], check=True, stdout=subprocess.PIPE).stdout
    return sorted(out.decode().splitlines())


def compare(label, expected, got):
    if expected == got:
        print("%s: %d streams agree" % (label, len(expected)))
        return True
    print("%s: MISMATCH" % label)
    for line in sorted(set(expected) ^ set(got))[:20]:
        print("  %s %s" % ("expected" if line in expected else "got     ", line))
    return False


def check_olefile(cfb_tool, work):
    import olefile
    ok = True
    for version in ("3", "4"):
        path = os.path.join(work, "ours_v%s.cfb" % version)
        expected = tool(cfb_tool, "write", path, version)
        ole = olefile.OleFileIO(path)
        items = []
        for entry in ole.listdir(streams=True, storages=False):
            items.append(("/".join(entry), ole.openstream(entry).read()))
        ole.close()
        ok &= compare("olefile reads our v%s file" % version, expected, manifest(items))
        ok &= compare("our reader reads our v%s file" % version, expected,
                      tool(cfb_tool, "dump", path))
    return ok


def check_gsf(cfb_tool, work):
    gsf = shutil.which("gsf")
    if gsf is None:
        print("gsf not installed")
        return False
    src = os.path.join(work, "in")
    shutil.rmtree(src, ignore_errors=True)
    rng = random.Random(4)
    files = {}
    sizes = [0, 1, 63, 64, 4095, 4096, 4097, 100000, 5 << 20]
    for i, size in enumerate(sizes):
        files["in/size%d.bin" % size] = bytes(rng.getrandbits(8) for _ in range(min(size, 4096))) * (size // 4096 + 1)
        files["in/size%d.bin" % size] = files["in/size%d.bin" % size][:size]
    files["in/1/_/0.dif"] = b"diff data" * 100
    files["in/1/list.dat"] = bytes(range(54))
    for i in range(300):
        files["in/many/%d.dat" % i] = bytes((i + j) % 256 for j in range(i * 13 % 700))
    for rel, data in files.items():
        full = os.path.join(work, rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    out = os.path.join(work, "gsf.ole")
    if os.path.exists(out):
        os.remove(out)
    subprocess.run([gsf, "createole", "gsf.ole", "in"], cwd=work, check=True,
                   stdout=subprocess.DEVNULL)
    return compare("our reader reads gsf createole", manifest(files.items()),
                   tool(cfb_tool, "dump", out))


def main():
    mode, cfb_tool, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    ok = check_olefile(cfb_tool, work) if mode == "olefile" else check_gsf(cfb_tool, work)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
