# Sourced by the scripts that run the Windows program under Wine: a private 32-bit Wine prefix
# in the build folder (created on first use), no add-on installers (mscoree and mshtml off), no
# Wine debug output, the C locale (ANSI code page 1252).
# Sets WINEPREFIX and friends; defines wine_prefix_ready and wine_windows_folder.
export WINEPREFIX="${VELMORA_WINEPREFIX:-$PWD/build/win32/wineprefix}" WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C

wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    timeout 300 env -u DISPLAY wineboot -i >/dev/null 2>&1 || { echo "cannot create the Wine prefix $WINEPREFIX" >&2; return 1; }
    wineserver -w 2>/dev/null || true
  fi
}

# The Unix path of the Windows folder of the prefix, where the program's working folder lives.
wine_windows_folder() { echo "$WINEPREFIX/drive_c/windows"; }

# A Unix path as the program under Wine sees it (drive Z: is the Unix root).
wine_path() { printf 'Z:%s' "$(realpath -m "$1" | tr '/' '\\')"; }
