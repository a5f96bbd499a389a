#!/usr/bin/env bash
# Kills the program with SIGKILL at random moments of its work and checks after every kill that
# the files it keeps still parse and hold either their old or their new content.
#
# Usage: bench/crash_kill.sh <installed program folder> [kills=1000] [language_change_loop]
#   e.g. bench/crash_kill.sh build/default/install 1000 build/default/bench/language_change_loop
#
# The work killed, in turn: the switch runs /untd (unpack every pack) and /unth (the hardware ID
# run: INF index, search, extraction lists, saved log), each on the offscreen platform, and a
# language change (bench/language_change_loop applying the languages one after the other). The
# whole process group goes, so no tool the program started writes on after it. Each kind of work
# is first run once to its end to learn how long it takes and what its files hold at the end; the
# kills then fall uniformly within that time.
#
# Checked after each kill (a missing file is fine: it may not have been written yet):
#   dp_tavi.ini        parses (every line ends with a line break), and no key it held before is gone
#   DP_Content.ini, DP_Extract.ini   parse
#   <pack>.txt lists, UnpackedDP.txt   exactly what a whole run writes
#   UnattendedLOg.txt  UTF-16 with byte-order mark, ends with CR LF
# Not part of the tests: it takes minutes. Works in a scratch folder under $TMPDIR.
set -euo pipefail
install_dir="$(realpath "$1")"
kills="${2:-1000}"
loop_tool="$(realpath "${3:-build/default/bench/language_change_loop}")"
[ -x "$install_dir/Velmora_TAVI" ] || { echo "no program in $install_dir" >&2; exit 2; }
[ -x "$loop_tool" ] || { echo "no language_change_loop at $loop_tool" >&2; exit 2; }

scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-crash.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
prog="$scratch/program"
mkdir -p "$prog/DP" "$scratch/windows"
for entry in "$install_dir"/*; do
  [ "$(basename "$entry")" = DP ] || cp -a "$entry" "$prog/"
done
rm -f "$prog/dp_tavi.ini" "$prog/Markers/cmd" "$prog/Markers/cmdout"
cp "$install_dir"/demo/DP/*.7z "$prog/DP/"

python3 - "$scratch" "$prog" "$scratch/windows" "$kills" "$loop_tool" <<'PY'
import os, random, re, shutil, signal, subprocess, sys, time

scratch, prog, windir, kills, loop_tool = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
work = os.path.join(windir, "dp_tavi")
ini = os.path.join(prog, "dp_tavi.ini")
env = dict(os.environ, QT_QPA_PLATFORM="offscreen", VELMORA_WINDIR=windir, VELMORA_DRIVE_TYPE="3")
packs = sorted(os.listdir(os.path.join(prog, "DP")))
log_path = os.path.join(scratch, "run.log")
# The line every switch run logs once its work is done (it closes 10 seconds later).
done_marker = re.compile(r"clean\.cmd|for the Windows installer|Automatic run finished", re.I)
random.seed(20261210)

def start(kind):
    cmd = [loop_tool, prog] if kind == "language" else [os.path.join(prog, "Velmora_TAVI"), kind]
    out = open(log_path, "wb")
    return subprocess.Popen(cmd, cwd=scratch, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=out,
                            start_new_session=True)

def kill(p):
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    p.wait()

def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None

def ini_keys(data):
    keys, section = set(), ""
    for line in data.decode("utf-8", "replace").split("\n"):
        line = line.strip()
        if line.startswith("[") and "]" in line:
            section = line[1:line.index("]")].strip().lower()
        elif "=" in line and not line.startswith(";"):
            keys.add((section, line.split("=", 1)[0].strip().lower()))
    return keys

def list_files():
    return sorted(f for f in os.listdir(work) if f.endswith(".txt") and f[:-4] in packs) if os.path.isdir(work) else []

# ---- each kind of work once to its end: how long it takes, what its files hold at the end ----
durations, final = {}, {}
def whole_run(kind):
    p = start(kind)
    t0 = time.monotonic()
    while True:
        time.sleep(0.01)
        text = open(log_path, "rb").read().decode("utf-8", "replace")
        if kind == "language" and text.count("\n") >= 1 and time.monotonic() - t0 > 1.0:
            break
        if kind != "language" and done_marker.search(text):
            break
        if p.poll() is not None or time.monotonic() - t0 > 300:
            break
    durations[kind] = time.monotonic() - t0
    kill(p)

whole_run("/untd")
final["UnpackedDP.txt"] = read(os.path.join(work, "UnpackedDP.txt"))
whole_run("/unth")
for name in list_files():
    final[name] = read(os.path.join(work, name))
whole_run("language")
print("work times: " + ", ".join(f"{k} {v:.2f} s" for k, v in durations.items()))
print("files a whole run leaves: " + ", ".join(f"{k} ({len(v) if v is not None else 'none'} bytes)" for k, v in final.items()))
if final["UnpackedDP.txt"] is None:
    sys.exit("the /untd run left no UnpackedDP.txt: " + open(log_path, "rb").read().decode("utf-8", "replace")[-2000:])

# ---- the kills ----
failures, finished_first, checks = [], 0, 0
previous_keys = ini_keys(read(ini) or b"")

def fail(i, kind, delay, what):
    failures.append(f"kill {i} ({kind} after {delay:.3f} s): {what}")

def check(i, kind, delay):
    global previous_keys, checks
    data = read(ini)
    if data is not None:
        checks += 1
        if not data.endswith(b"\n"):
            fail(i, kind, delay, f"dp_tavi.ini does not end with a line break ({len(data)} bytes)")
        keys = ini_keys(data)
        if not previous_keys <= keys:
            fail(i, kind, delay, f"dp_tavi.ini lost keys {sorted(previous_keys - keys)[:5]}")
        previous_keys = keys
    for name in ("DP_Content.ini", "DP_Extract.ini"):
        data = read(os.path.join(work, name))
        if data is None:
            continue
        checks += 1
        if data and not data.endswith(b"\n"):
            fail(i, kind, delay, f"{name} does not end with a line break ({len(data)} bytes)")
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as e:
            fail(i, kind, delay, f"{name}: {e}")
    for name in ["UnpackedDP.txt"] + list_files():
        data = read(os.path.join(work, name))
        if data is None:
            continue
        checks += 1
        if name not in final:
            fail(i, kind, delay, f"{name} was not left by a whole run")
        elif data != final[name]:
            fail(i, kind, delay, f"{name} holds {data[:80]!r}, a whole run writes {final[name][:80]!r}")
    data = read(os.path.join(work, "UnattendedLOg.txt"))
    if data is not None:
        checks += 1
        if not (data.startswith(b"\xff\xfe") and len(data) % 2 == 0 and data.endswith("\r\n".encode("utf-16-le"))):
            fail(i, kind, delay, f"UnattendedLOg.txt is cut ({len(data)} bytes)")

kinds = ["/untd", "/unth", "language"]
t_start = time.monotonic()
for i in range(1, kills + 1):
    kind = kinds[i % 3]
    if i % 100 == 0:
        # Now and then a first start again: no configuration, no working folder.
        os.remove(ini) if os.path.exists(ini) else None
        shutil.rmtree(windir, ignore_errors=True)
        os.makedirs(windir)
        previous_keys = set()
    elif kind == "/untd" and random.random() < 0.5:
        # Packs not unpacked yet, so the run unpacks and writes the list anew.
        path = os.path.join(work, "UnpackedDP.txt")
        os.remove(path) if os.path.exists(path) else None
    delay = random.uniform(0, durations[kind])
    p = start(kind)
    time.sleep(delay)
    if p.poll() is not None:
        finished_first += 1
    kill(p)
    check(i, kind, delay)
    if i % 100 == 0:
        print(f"{i} kills, {len(failures)} failures, {time.monotonic() - t_start:.0f} s", flush=True)

leftovers = []
for folder in (prog, work):
    if os.path.isdir(folder):
        leftovers += [f for f in os.listdir(folder) if f.startswith(".")]
elapsed = time.monotonic() - t_start
print(f"kills {kills}, files checked {checks}, failures {len(failures)}, "
      f"runs that ended before their kill {finished_first}, time {elapsed:.0f} s")
kinds_left = {}
for name in leftovers:
    kind = re.sub(r"[.][A-Za-z0-9]{6}$", "", re.sub(r"-[A-Za-z0-9]{6}$", "", name))
    kinds_left[kind] = kinds_left.get(kind, 0) + 1
print(f"temporary files left by killed writes (in the program and working folders): {len(leftovers)} "
      + ", ".join(f"{k}* {v}" for k, v in sorted(kinds_left.items())))
for line in failures[:20]:
    print("  " + line)
sys.exit(1 if failures else 0)
PY
