#!/usr/bin/env bash
# Kills the installer stand-in with SIGKILL at random moments of its registry step on an offline
# Windows volume and checks after every kill that the SOFTWARE hive is either the old one (byte for
# byte) or the complete new one, never torn; that a backup, when there is one, is the old hive;
# and, every fourth time, that a run started afterwards finishes the job.
#
# Usage: bench/offline_registry_kill.sh [DPINST.exe] [make_offline_windows] [trials=200] [filler keys=20000]
#   e.g. bench/offline_registry_kill.sh build/default/tools/dpinst/DPINST.exe \
#          build/default/bench/make_offline_windows 200
#
# The volume comes from bench/make_offline_windows: a Windows 10 SOFTWARE hive padded to a few
# megabytes, so that writing and flushing its new copy takes long enough to be hit. The registry
# step is timed first on uninterrupted runs, watched from outside: from the moment the new copy
# "SOFTWARE.velmora-new" appears to the moment SOFTWARE is replaced. The kills then fall uniformly
# within that window and a fifth of it beyond. Not part of the tests: it takes minutes. Works in a scratch folder under $TMPDIR.
set -euo pipefail
dpinst="$(realpath "${1:-build/default/tools/dpinst/DPINST.exe}")"
maker="$(realpath "${2:-build/default/bench/make_offline_windows}")"
trials="${3:-200}"
filler="${4:-20000}"
[ -x "$dpinst" ] || { echo "no installer stand-in at $dpinst" >&2; exit 2; }
[ -x "$maker" ] || { echo "no make_offline_windows at $maker" >&2; exit 2; }
command -v hivexget >/dev/null || { echo "hivexget (Debian package libhivex-bin) is needed" >&2; exit 2; }
sysfs="$(realpath "$(dirname "$0")/../tests/data/sysfs/virtio/sys")"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-offline-kill.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
"$maker" "$scratch/pristine" "$filler"

python3 - "$scratch" "$dpinst" "$trials" "$sysfs" <<'PY'
import hashlib, os, random, shutil, signal, struct, subprocess, sys, time

scratch, dpinst, trials, sysfs = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
pristine = os.path.join(scratch, "pristine")
vol = os.path.join(scratch, "vol")
config = os.path.join(vol, "Windows", "System32", "config")
software = os.path.join(config, "SOFTWARE")
fresh = software + ".velmora-new"
backup = software + ".velmora-backup"
expected = (r"%SystemRoot%\inf;%SystemDrive%\Drivers\Velmora\Audio;"
            r"%SystemDrive%\Drivers\Velmora\LAN\net")
random.seed(20261211)

def digest(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()

original = digest(os.path.join(pristine, "Windows/System32/config/SOFTWARE"))

def reset():
    shutil.rmtree(vol, ignore_errors=True)
    shutil.copytree(pristine, vol)

def start():
    env = dict(os.environ, VELMORA_WINDIR=os.path.join(vol, "Windows"), VELMORA_SYSFS=sysfs)
    return subprocess.Popen([dpinst, "/s", "/path", os.path.join(vol, "Windows", "dp_tavi", "Drivers")],
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)

def header_ok(path):
    with open(path, "rb") as f:
        block = f.read(512)
    if len(block) < 512 or block[:4] != b"regf":
        return False
    words = struct.unpack("<128I", block)
    checksum = 0
    for w in words[:127]:
        checksum ^= w
    return words[1] == words[2] and checksum == words[127]

def value(path, key, name):
    r = subprocess.run(["hivexget", path, key, name], capture_output=True, text=True)
    return r.stdout.strip() if r.returncode == 0 else None

def state():
    """'old', 'new' or 'torn: why'."""
    if digest(software) == original:
        return "old"
    if not header_ok(software):
        return "torn: header"
    if value(software, r"Microsoft\Windows\CurrentVersion", "DevicePath") != expected:
        return "torn: DevicePath"
    if value(software, r"Microsoft\Windows\CurrentVersion\RunOnce", "Velmora drivers") is None:
        return "torn: RunOnce"
    return "new"

# 1. The registry step's window, watched on uninterrupted runs.
windows = []
for _ in range(5):
    reset()
    ino = os.stat(software).st_ino
    t0 = time.monotonic()
    p = start()
    a = b = None
    while p.poll() is None or b is None:
        now = time.monotonic() - t0
        if a is None and os.path.exists(fresh):
            a = now
        try:
            if b is None and os.stat(software).st_ino != ino:
                b = now
        except FileNotFoundError:
            pass
        if p.poll() is not None and b is None:
            b = time.monotonic() - t0
            break
    p.wait()
    assert state() == "new", "an uninterrupted run did not end with the new hive"
    windows.append((a if a is not None else 0.0, b))
windows.sort(key=lambda w: w[1] - w[0])
a, b = windows[len(windows) // 2]
print("registry step (median of 5 runs): new copy appears at %.3f s, SOFTWARE replaced at %.3f s" % (a, b))

# 2. The kills.
outcomes = {}
in_window = 0
leftovers = 0
reruns = 0
rerun_failures = 0
bad_backup = 0
started = time.monotonic()
for trial in range(trials):
    reset()
    # A little past the replacement too, so that kills also meet the rename and the flushes after it.
    delay = random.uniform(a, b + 0.2 * (b - a))
    t0 = time.monotonic()
    p = start()
    while time.monotonic() - t0 < delay and p.poll() is None:
        time.sleep(0.0005)
    finished = p.poll() is not None
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    p.wait()
    if not finished:
        in_window += 1
    s = state()
    outcomes[s] = outcomes.get(s, 0) + 1
    if os.path.exists(backup) and digest(backup) != original:
        bad_backup += 1
    leftovers += sum(1 for n in os.listdir(config) if n not in ("SOFTWARE", "SYSTEM", "SOFTWARE.velmora-backup"))
    if trial % 4 == 0:
        reruns += 1
        q = start()
        q.wait()
        if q.returncode != 0 or state() != "new" or (os.path.exists(backup) and digest(backup) != original):
            rerun_failures += 1

print("trials %d, killed inside the window %d (the rest had ended), time %.0f s"
      % (trials, in_window, time.monotonic() - started))
print("hive after the kill: " + ", ".join("%s %d" % kv for kv in sorted(outcomes.items())))
print("backups that were not the old hive: %d" % bad_backup)
print("files left beside the hives by killed runs (new copies, backup temporaries): %d" % leftovers)
print("runs after a kill: %d, not ending with the new hive and the old backup: %d" % (reruns, rerun_failures))
torn = sum(v for k, v in outcomes.items() if k.startswith("torn"))
sys.exit(1 if torn or bad_backup or rerun_failures else 0)
PY
