#!/usr/bin/env python3
"""Checks the #include graph of src/ and tools/ against the rooms of docs/ARCHITECTURE.md.

Three rules, each failure named with the file and the line that breaks it:
  1. A file includes only headers of the rooms its own room may use (ALLOWED below): the ground
     floor uses nothing of the project above it, engines never reach up into app/ or a front end.
  2. No circle between modules. A module is a header with the sources of the same name beside it
     (foo.h, foo.cpp, foo_posix.cpp, foo_win32.cpp); a source that defines methods of the main
     window belongs to the main window's module as well, since app/main_form.h declares them. A
     platform variant (platform/posix/foo_posix.cpp) is a module of its own below the interface.
  3. Methods of the main window (`TMainfrm::`) are defined only in app/main_form.cpp (the window's
     own services) and in files named *_handlers.cpp.

Usage: check_includes.py [source root]; exit status 0 when every rule holds, 1 otherwise.
"""
import os
import re
import sys

# The rooms each room may include from. "handlers" is every *_handlers.cpp and *_handlers.h, wherever it lies.
ENGINES = {"packs", "devices", "search", "lang"}
BELOW_APP = {"base", "platform", "shared"} | ENGINES
ALLOWED = {
    "base": {"base"},                                  # form model, layouts, tree node, UI port, text helpers
    "platform": {"base", "platform"},                  # interfaces, posix/ and win32/ variants
    "shared": {"base", "platform", "shared"},          # the shared string and file functions
    "packs": BELOW_APP,                                # engines: plain functions and classes
    "devices": BELOW_APP,
    "search": BELOW_APP,
    "lang": BELOW_APP,
    "installer": {"base", "installer"},                # DPINST.exe's rules, a library of its own
    "app": BELOW_APP | {"app"},                        # the main window, configuration, log, runs
    "handlers": BELOW_APP | {"app", "handlers"},       # TMainfrm methods of each subsystem
    "ui": BELOW_APP | {"app", "ui"},                   # the front ends
    "tools": BELOW_APP | {"installer", "tools"},       # the outside tools' stand-ins and doubles
}
MAIN_WINDOW = "src/app/main_form"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
VARIANT = re.compile(r"_(posix|win32)$")


def room_of(path):
    """The room of a path relative to the root (src/... or tools/...), None for other files."""
    parts = path.split("/")
    if parts[0] == "tools":
        return "tools"
    if parts[0] != "src" or len(parts) < 3:
        return None
    if parts[-1].endswith(("_handlers.cpp", "_handlers.h")):
        return "handlers"
    return parts[1]


def module_of(path):
    """foo.h and foo.cpp are one module; so are the variant files of one folder (foo_posix.cpp).
    Handler files, and a handler header declaring what several handler files share of the main
    window, are parts of the main window's module."""
    if path.endswith(("_handlers.cpp", "_handlers.h")):
        return MAIN_WINDOW
    return VARIANT.sub("", os.path.splitext(path)[0])


def resolve(root, including, name):
    """The included file relative to root: beside the including file, then under src/."""
    for base in (os.path.dirname(including), "src"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    files = []
    for top in ("src", "tools"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/"))
    files.sort()

    faults = []
    edges = {}  # module -> {module: (file, line, included)}
    for path in files:
        room = room_of(path)
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        modules = [module_of(path)]
        defines_window = any(re.match(r"^[\w:<>,&*\s]*\bTMainfrm::\w+\s*\(", line) for line in lines)
        if defines_window and path.endswith(".cpp"):
            if not (path == MAIN_WINDOW + ".cpp" or path.endswith("_handlers.cpp")):
                faults.append(f"{path}: defines TMainfrm methods; they belong in a *_handlers.cpp file")
            modules.append(MAIN_WINDOW)
        for number, line in enumerate(lines, 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = resolve(root, path, match.group(1))
            if target is None:
                continue  # a system header or a generated file
            target_room = room_of(target)
            if room in ALLOWED and target_room is not None and target_room not in ALLOWED[room]:
                faults.append(f"{path}:{number}: the room {room} may not include {target} (room {target_room})")
            for module in modules:
                if module_of(target) != module:
                    edges.setdefault(module, {}).setdefault(module_of(target), (path, number, target))

    # Circles: a depth-first search that reports each circle once, by its path of includes.
    state = {}
    stack = []
    seen = set()

    def visit(module):
        state[module] = 1
        stack.append(module)
        for nxt in sorted(edges.get(module, {})):
            if state.get(nxt) == 1:
                circle = stack[stack.index(nxt):]
                key = frozenset(circle)
                if key not in seen:
                    seen.add(key)
                    steps = []
                    for a, b in zip(circle, circle[1:] + [nxt]):
                        file, number, target = edges[a][b]
                        steps.append(f"{file}:{number} includes {target}")
                    faults.append("include circle: " + "; ".join(steps))
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[module] = 2

    sys.setrecursionlimit(10000)
    for module in sorted(edges):
        if module not in state:
            visit(module)

    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include rule(s) broken; the rooms are described in docs/ARCHITECTURE.md")
        return 1
    print(f"include rules hold for {len(files)} files")
    return 0


if __name__ == "__main__":
    sys.exit(main())
