#!/usr/bin/env bash
# Builds a driver pack for the benchmarks: FILES files in driver folders, SIZE_MB megabytes in all,
# with an INF file per ten files.
#   random        (default) every file the same size, random (incompressible) data: many small
#                 files, where the cost per file and per folder counts most
#   compressible  files of very different sizes (a few large ones hold most of the bytes) with
#                 data like driver binaries': runs of code-like random bytes, zero padding and
#                 repeated tables and strings; it compresses to about a third
# Usage: bench/make_pack.sh <out.7z> [files=5000] [size_mb=200] [random|compressible]
set -euo pipefail
out="$1"; files="${2:-5000}"; size_mb="${3:-200}"; kind="${4:-random}"
case "$kind" in random|compressible) ;; *) echo "unknown kind: $kind" >&2; exit 2 ;; esac
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$work" "$files" "$((size_mb * 1024 * 1024))" "$kind" <<'PY'
import os, random, sys
root, files, total, kind = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
rng = random.Random(7)
if kind == "random":
    sizes = [total // files] * files
else:
    # Sizes spread over three orders of magnitude, scaled to the total.
    weights = [rng.lognormvariate(0, 1.6) for _ in range(files)]
    scale = total / sum(weights)
    sizes = [max(1, int(w * scale)) for w in weights]
table = bytes(rng.getrandbits(8) for _ in range(4096))
text = b"".join(b"Velmora device %05d driver string, version 31.0.%d\x00" % (i, i % 97) for i in range(200))

def compressible(size):
    out = bytearray()
    while len(out) < size:
        pick = rng.random()
        if pick < 0.40:
            out += os.urandom(rng.randint(256, 8192))              # code
        elif pick < 0.65:
            out += bytes(rng.randint(512, 16384))                  # padding and zeroed data
        elif pick < 0.85:
            start = rng.randint(0, len(table) - 1024)
            out += table[start:start + rng.randint(256, 1024)]     # tables seen before
        else:
            start = rng.randint(0, len(text) - 2048)
            out += text[start:start + rng.randint(512, 2048)]      # strings
    return bytes(out[:size])

for i in range(files):
    folder = os.path.join(root, "Drivers", f"Vendor{i // 100:03d}", f"Device {i % 100:02d}")
    os.makedirs(folder, exist_ok=True)
    if i % 10 == 0:
        with open(os.path.join(folder, "driver.inf"), "w") as f:
            f.write(f"[Version]\nSignature=\"$Windows NT$\"\n[Models]\n%Dev{i}% = Install, PCI\\VEN_8086&DEV_{i:04X}\n")
    with open(os.path.join(folder, f"file{i:05d}.sys"), "wb") as f:
        f.write(os.urandom(sizes[i]) if kind == "random" else compressible(sizes[i]))
PY
out_abs="$(realpath -m "$out")"
rm -f "$out_abs"
(cd "$work" && 7zz a -mx1 -bd "$out_abs" Drivers >/dev/null)
ls -l "$out"
