#!/usr/bin/env bash
# Builds a driver pack for the benchmarks: FILES files of random (incompressible) data in
# driver folders, SIZE_MB megabytes in all, with an INF file per folder.
# Usage: bench/make_pack.sh <out.7z> [files=5000] [size_mb=200]
set -euo pipefail
out="$1"; files="${2:-5000}"; size_mb="${3:-200}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
per_file=$(( size_mb * 1024 * 1024 / files ))
python3 - "$work" "$files" "$per_file" <<'PY'
import os, sys
root, files, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(files):
    folder = os.path.join(root, "Drivers", f"Vendor{i // 100:03d}", f"Device {i % 100:02d}")
    os.makedirs(folder, exist_ok=True)
    if i % 10 == 0:
        with open(os.path.join(folder, "driver.inf"), "w") as f:
            f.write(f"[Version]\nSignature=\"$Windows NT$\"\n[Models]\n%Dev{i}% = Install, PCI\\VEN_8086&DEV_{i:04X}\n")
    with open(os.path.join(folder, f"file{i:05d}.sys"), "wb") as f:
        f.write(os.urandom(size))
PY
out_abs="$(realpath -m "$out")"
rm -f "$out_abs"
(cd "$work" && 7zz a -mx1 -bd "$out_abs" Drivers >/dev/null)
ls -l "$out"
