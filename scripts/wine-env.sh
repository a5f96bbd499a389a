# Sourced by the scripts that build and run the Windows program and its tests under Wine.
#
# Chooses the variant of the Windows build these scripts use:
#  - win32: the 32-bit program under 32-bit Wine, where this machine can execute 32-bit x86 code;
#  - win64: the same code built for 64-bit Windows under 64-bit Wine (Debian's wine64), where it
#    cannot (some hosts run 64-bit user code only: every 32-bit program, Wine's own 32-bit loader
#    included, fails there with "Exec format error"), or when VELMORA_WIN64=1 asks for it.
# Whether 32-bit code runs is found out by running a tiny 32-bit program, not guessed.
#
# Sets and exports WIN_VARIANT (win32 or win64), WIN_PRESET and WIN_TESTS_PRESET (the CMake
# presets of the program and of the test program), WIN_VARIANT_REASON (one line saying why),
# WINE (the Wine loader to start programs with) and WINEPREFIX and friends: a private prefix in
# the build folder (created on first use; VELMORA_WINEPREFIX names another), no add-on installers
# (mscoree and mshtml off), no Wine debug output, the C locale (ANSI code page 1252).
# Defines wine_prefix_ready, wine_windows_folder and wine_path.

# Runs a 32-bit x86 Linux program of 96 bytes made here (an ELF header, one program header and
# the system call exit(42)); true when it ran and ended with 42.
machine_runs_i386() {
  local probe status=0
  probe="$(mktemp "${TMPDIR:-/tmp}/velmora-i386-probe.XXXXXX")" || return 1
  # ELF header: 32-bit, little endian, executable, i386, entry 0x08048054, program header at 52.
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
  printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
  printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000' >>"$probe"
  # Program header: the whole file loaded at 0x08048000, readable and executable.
  printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
  printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
  # mov ebx, 42; mov eax, 1; int 0x80
  printf '\273\052\000\000\000\270\001\000\000\000\315\200' >>"$probe"
  chmod +x "$probe"
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

if [ -z "${WIN_VARIANT:-}" ]; then
  if [ "${VELMORA_WIN64:-}" = 1 ]; then
    WIN_VARIANT=win64
    WIN_VARIANT_REASON="the 64-bit Windows variant: VELMORA_WIN64=1 asks for it"
  elif machine_runs_i386; then
    WIN_VARIANT=win32
    WIN_VARIANT_REASON="the 32-bit Windows variant: this machine executes 32-bit x86 code"
  else
    WIN_VARIANT=win64
    WIN_VARIANT_REASON="the 64-bit Windows variant: this machine cannot execute 32-bit x86 code (a 32-bit test program did not run)"
  fi
fi
WIN_PRESET="$WIN_VARIANT"
WIN_TESTS_PRESET="$WIN_VARIANT-tests"
if [ "$WIN_VARIANT" = win64 ]; then
  # Debian's wine64 package keeps its loader out of PATH, and the "wine" command prefers the
  # 32-bit loader whenever wine32 is installed too.
  WINE=/usr/lib/wine/wine64
  export WINELOADER="$WINE" WINEARCH=win64
else
  WINE=wine
  export WINEARCH=win32
fi
export WIN_VARIANT WIN_PRESET WIN_TESTS_PRESET WIN_VARIANT_REASON WINE
export WINEPREFIX="${VELMORA_WINEPREFIX:-$PWD/build/$WIN_PRESET/wineprefix}" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C

wine_prefix_ready() {
  if ! [ -x "$WINE" ] && ! command -v "$WINE" >/dev/null; then
    echo "no Wine loader $WINE for the $WIN_VARIANT variant: run scripts/setup.sh test" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 env -u DISPLAY "$WINE" wineboot -i >/dev/null 2>&1 ||
      { echo "cannot create the Wine prefix $WINEPREFIX" >&2; return 1; }
    wineserver -w 2>/dev/null || true
  fi
}

# The Unix path of the Windows folder of the prefix, where the program's working folder lives.
wine_windows_folder() { echo "$WINEPREFIX/drive_c/windows"; }

# A Unix path as the program under Wine sees it (drive Z: is the Unix root).
wine_path() { printf 'Z:%s' "$(realpath -m "$1" | tr '/' '\\')"; }
