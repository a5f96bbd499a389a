#!/usr/bin/env python3
"""Builds a driver collection for the benchmark of the whole unattended run.

    make_collection.py <out folder> <ids file> [infs=3000] [packs=10] [seed=1]
                       [infs per folder=20] [payload KB per INF=16] [level=1]

Writes <out folder>/Pack01.7z ... (solid 7z archives made with 7zz, LZMA2, at the given
compression level), each a tree
of driver folders D/<category>/<vendor>/<n>/ holding INF files shaped like real ones ([Version],
[Manufacturer], model sections naming hardware identifiers, install, registry and file sections,
[SourceDisksFiles], [Strings]; 3-40 KB) and beside them their payload (.sys and .cat files of
random, incompressible bytes). Every line of the ids file (this machine's reduced identifiers) is
planted in a few INF files, sometimes in lower case or with a longer identifier around it, so
the search finds matching folders in several packs. A few INF paths occur in two packs. The
same arguments give the same collection, byte for byte.

The level decides how the archive tool can decode a pack. At level 1 (a 256 KB dictionary) 7zz
cuts each solid block's LZMA2 stream into many small pieces it can decode on every processor at
once; at level 9 (the level driver packs are published at, a 64 MB dictionary and more) a block is
one stream, decoded on one processor, as a pack made by older tools always is.
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile

CATEGORIES = ["Chipset", "LAN", "WLAN", "Sound", "Video", "Storage", "Input", "Card", "Bluetooth", "USB"]
PCI_VENDORS = ["8086", "10DE", "1002", "10EC", "14E4", "168C", "1B21", "1022", "1106", "197B"]
USB_VENDORS = ["046D", "045E", "8087", "0BDA", "13D3", "04F2", "0CF3", "05AC", "0489", "2109"]
WORDS = ["Intel(R)", "Realtek", "Gigabit", "Network", "Connection", "Controller", "Audio", "High",
         "Definition", "USB", "Hub", "Root", "Express", "Chipset", "Family", "Series", "Wireless",
         "Adapter", "Bluetooth", "Device", "SMBus", "Host", "Bridge", "Port", "Serial", "Camera"]


def random_id(rng):
    r = rng.random()
    if r < 0.6:
        return "PCI\\VEN_%s&DEV_%04X&SUBSYS_%08X" % (rng.choice(PCI_VENDORS), rng.getrandbits(16), rng.getrandbits(32))
    if r < 0.85:
        return "USB\\VID_%s&PID_%04X" % (rng.choice(USB_VENDORS), rng.getrandbits(16))
    return "HDAUDIO\\FUNC_01&VEN_%s&DEV_%04X&SUBSYS_%08X" % (rng.choice(PCI_VENDORS), rng.getrandbits(16),
                                                          rng.getrandbits(32))


def inf_text(rng, name, planted):
    words = lambda n: " ".join(rng.choice(WORDS) for _ in range(n))
    models = rng.randint(8, 120)
    ids = [random_id(rng) for _ in range(models)]
    for p in planted:
        ids.insert(rng.randrange(len(ids) + 1), p)
    out = [f"; {name}.inf", ";", f"; Copyright (c) {words(2)}", "",
           "[Version]", 'Signature="$WINDOWS NT$"', f"Class={rng.choice(CATEGORIES)}",
           "ClassGuid={4d36e972-e325-11ce-bfc1-08002be10318}", "Provider=%Vendor%",
           f"DriverVer=0{rng.randint(1, 9)}/1{rng.randint(0, 9)}/2019,{rng.randint(1, 30)}.0.{rng.randint(0, 999)}.0",
           f"CatalogFile={name}.cat", "", "[Manufacturer]", "%Vendor%=Models,NTx86,NTamd64", ""]
    for arch in ("NTx86", "NTamd64"):
        out.append(f"[Models.{arch}]")
        for k, hwid in enumerate(ids):
            out.append(f"%Dev{k}.Desc%=Install_{k % 4}, {hwid}")
        out.append("")
    for k in range(4):
        out += [f"[Install_{k}]", f"CopyFiles=Files_{k}", f"AddReg=Reg_{k}", "Characteristics=0x84", "BusType=5", "",
                f"[Install_{k}.Services]", f"AddService={name}, 2, Service_{k}", "",
                f"[Reg_{k}]"]
        for r in range(rng.randint(5, 30)):
            out.append(f'HKR, Ndi\\params\\Param{r}, ParamDesc, 0, "{words(3)}"')
        out += ["", f"[Files_{k}]", f"{name}.sys", ""]
    out += ["[SourceDisksNames]", '1=%DiskName%,,,', "", "[SourceDisksFiles]", f"{name}.sys=1", "", "[Strings]",
            f'Vendor="{words(2)}"', f'DiskName="{words(3)} Disk"']
    for k in range(len(ids)):
        out.append(f'Dev{k}.Desc="{words(rng.randint(3, 7))}"')
    return "\r\n".join(out) + "\r\n"


def main():
    args = sys.argv[1:]
    if len(args) < 2:
        sys.exit(__doc__)
    out_dir, ids_file = args[0], args[1]
    infs = int(args[2]) if len(args) > 2 else 3000
    packs = int(args[3]) if len(args) > 3 else 10
    seed = int(args[4]) if len(args) > 4 else 1
    per_folder = int(args[5]) if len(args) > 5 else 20
    payload_kb = int(args[6]) if len(args) > 6 else 16
    level = int(args[7]) if len(args) > 7 else 1
    rng = random.Random(seed)
    with open(ids_file) as f:
        machine = [line.strip() for line in f if line.strip()]

    # Which INF files carry which of the machine's identifiers: each identifier in three files.
    plants = {}
    for hwid in machine:
        for _ in range(3):
            variant = hwid if rng.random() < 0.8 else hwid.lower()
            if rng.random() < 0.5:
                variant += "&SUBSYS_%08X" % rng.getrandbits(32)
            plants.setdefault(rng.randrange(infs), []).append(variant)

    os.makedirs(out_dir, exist_ok=True)
    folders = max(1, infs // per_folder)
    per_pack = max(1, folders // packs)
    work = tempfile.mkdtemp(prefix="collection.", dir=out_dir)
    try:
        inf_index = 0
        carried = []
        for p in range(packs):
            root = os.path.join(work, f"pack{p}")
            first = p * per_pack
            last = folders if p == packs - 1 else min(folders, first + per_pack)
            for folder in range(first, last):
                category = CATEGORIES[folder % len(CATEGORIES)]
                rel = os.path.join("D", category, rng.choice(PCI_VENDORS), str(folder))
                # A few folders of the previous pack come again in this one, as packs overlap.
                if p > 0 and folder == first:
                    rel = os.path.join("D", "Common", "Shared")
                path = os.path.join(root, rel)
                os.makedirs(path, exist_ok=True)
                count = per_folder if folder < folders - 1 else max(per_folder, infs - inf_index)
                for k in range(count):
                    if inf_index >= infs:
                        break
                    name = f"shared{k:02d}" if rel.endswith("Shared") else f"drv{folder:05d}{k:02d}"
                    # An INF path that several packs hold is searched in one copy only (the last
                    # pack's) while the index names the first pack: the identifiers go to the next
                    # INF file of a folder of its own, so both sides can find them.
                    carried += plants.get(inf_index, [])
                    planted = [] if name.startswith("shared") else carried
                    with open(os.path.join(path, name + ".inf"), "w", newline="") as f:
                        f.write(inf_text(rng, name, planted))
                    if planted:
                        carried = []
                    size = max(512, int(rng.lognormvariate(0, 0.8) * payload_kb * 1024 * 0.7))
                    with open(os.path.join(path, name + ".sys"), "wb") as f:
                        f.write(rng.randbytes(size))
                    with open(os.path.join(path, name + ".cat"), "wb") as f:
                        f.write(rng.randbytes(2048))
                    inf_index += 1
            pack = os.path.abspath(os.path.join(out_dir, f"Pack{p + 1:02d}.7z"))
            if os.path.exists(pack):
                os.remove(pack)
            os.makedirs(root, exist_ok=True)
            # Fixed times, so the archives too come out the same for the same arguments.
            for dirpath, dirnames, filenames in os.walk(root):
                for entry in dirnames + filenames:
                    os.utime(os.path.join(dirpath, entry), (1546300800, 1546300800))
            subprocess.run(["7zz", "a", f"-mx{level}", "-ms=on", "-bd", "-bso0", pack, "."], cwd=root, check=True)
            shutil.rmtree(root)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
