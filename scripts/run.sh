#!/usr/bin/env bash
# Sets everything up, builds the program folder and starts Velmora.
#
# Without arguments Velmora runs from a scratch copy of the program folder, build/demo-run/program
# (made anew each time), with the Windows folder build/demo-run/windows. Its DP/ holds the packs
# of build/default/install/DP when there are any (*.7z), otherwise the demo packs the build makes.
#  - No display (neither DISPLAY, WAYLAND_DISPLAY nor QT_QPA_PLATFORM set): the unattended run
#    /unth on the offscreen platform: it reads this machine's hardware IDs, finds the INF files
#    that mention them, extracts only those driver folders and hands them to the installer, then
#    closes by itself. A summary of what it did follows; the exit status is the program's.
#  - A display: the window opens with those packs listed.
# With arguments (for example /untd, /unth or /inir) the installed program folder itself runs with
# them, without a display in a virtual X server (xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
bash scripts/build.sh program

install_dir="build/default/install"
headless=no
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  headless=yes
fi

if [ $# -gt 0 ]; then
  if [ "$headless" = yes ]; then
    echo "No display found: starting Velmora in a virtual X server (xvfb-run)." >&2
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$install_dir/Velmora_TAVI" "$@"
  fi
  exec "$install_dir/Velmora_TAVI" "$@"
fi

# ---- the scratch copy ----
scratch="$PWD/build/demo-run"
prog="$scratch/program"
windir="$scratch/windows"
work="$windir/dp_tavi"
rm -rf "$scratch"
mkdir -p "$prog" "$windir"
# The program folder as installed, without its packs and without what earlier runs left in it
# (the configuration names the installed folder's paths).
for entry in "$install_dir"/*; do
  [ "$(basename "$entry")" = DP ] || cp -a "$entry" "$prog/"
done
rm -f "$prog/dp_tavi.ini" "$prog/Markers/cmd" "$prog/Markers/cmdout"

shopt -s nullglob nocaseglob
user_packs=("$install_dir"/DP/*.7z)
shopt -u nocaseglob
if [ ${#user_packs[@]} -gt 0 ]; then
  # Packs can be large: hard links where the file system allows them.
  cp -al "$install_dir/DP" "$prog/DP" 2>/dev/null || { rm -rf "$prog/DP" && cp -a "$install_dir/DP" "$prog/DP"; }
  packs_from="your packs from $install_dir/DP"
else
  mkdir "$prog/DP"
  cp "$install_dir"/demo/DP/*.7z "$prog/DP/"
  packs_from="the demo packs (your own *.7z packs in $install_dir/DP take their place)"
fi
packs=("$prog"/DP/*.7z "$prog"/DP/*.7Z)

if [ "$headless" = no ]; then
  echo "Velmora on a scratch copy of the program folder ($prog) with ${packs_from}."
  cd "$scratch"
  VELMORA_WINDIR="$windir" exec "$prog/Velmora_TAVI"
fi

# ---- no display: the unattended run on this machine's hardware IDs ----
log="$scratch/velmora.log"
echo
echo "No display found: Velmora's unattended run /unth on this machine's hardware IDs"
echo "  packs:          ${#packs[@]} in $prog/DP, ${packs_from}"
for pack in "${packs[@]}"; do echo "                  $(basename "$pack")"; done
echo "  Windows folder: $windir"
echo "  program output: $log"
echo "Running (it closes by itself; at most 10 minutes) ..."
set +e
(cd "$scratch" && QT_QPA_PLATFORM=offscreen VELMORA_WINDIR="$windir" timeout 600 "$prog/Velmora_TAVI" /unth) \
  >"$log" 2>&1
status=$?
set -e
trim() { sed -e 's/\r$//'; }

echo
echo "== INF files that match this machine ($work/DP_Content.ini, Extract=YES)"
matches=""
if [ -f "$work/DP_Content.ini" ]; then
  matches=$(trim <"$work/DP_Content.ini" | awk '
    function flush() { if (section != "" && extract == "YES") printf "  %s: %s  (found %s)\n", pack, section, pattern }
    /^[ \t]*\[/ {
      flush(); section = $0; sub(/^[ \t]*\[/, "", section); sub(/\][ \t]*$/, "", section)
      extract = ""; pattern = ""; pack = ""; next
    }
    index($0, "=") > 0 {
      key = substr($0, 1, index($0, "=") - 1); value = substr($0, index($0, "=") + 1)
      gsub(/^[ \t]+|[ \t]+$/, "", key); gsub(/^[ \t]+|[ \t]+$/, "", value); key = tolower(key)
      if (key == "extract") extract = toupper(value)
      else if (key == "found pattern") pattern = value
      else if (key == "packname") pack = value
    }
    END { flush() }')
fi
if [ -n "$matches" ]; then
  echo "$matches"
else
  echo "  none"
fi

echo
echo "== Driver folders extracted into $work/Drivers (from the list files <pack>.txt in $work)"
# On Linux the run keeps the drivers it prepared (the installer here installs nothing), so
# they are still in the working folder's Drivers folder, the one the installer was given; the
# INF copies of the index lie apart in its Index folder.
unpacked="$work/Drivers"
extracted=0
for pack in "${packs[@]}"; do
  name=$(basename "$pack")
  [ -f "$work/$name.txt" ] || continue
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    folder=${line//\\//}
    folder=${folder%\*.\*}
    echo "  $name: $line"
    files=$(cd "$unpacked" 2>/dev/null && find "./$folder" -maxdepth 1 -type f 2>/dev/null | sed 's|^\./||' | sort)
    if [ -n "$files" ]; then
      echo "$files" | sed 's/^/      /'
    else
      echo "      (nothing there)"
    fi
    extracted=$((extracted + 1))
  done < <(trim <"$work/$name.txt")
done
[ "$extracted" -gt 0 ] || echo "  none"

echo
echo "== The installer (DPINST.LOG)"
full_log="$work/UnattendedLOg.txt"
full_text=""
[ -f "$full_log" ] && full_text=$(iconv -f UTF-16 -t UTF-8 "$full_log" | trim)
if [ -f "$windir/DPINST.LOG" ]; then
  installer=$(trim <"$windir/DPINST.LOG" | grep -E 'Serves present device|^Summary:' || true)
else
  # The program reads DPINST.LOG into its log and then destroys it.
  installer=$(printf '%s\n' "$full_text" | sed -e 's/^\[[0-9. ]*\] //' | grep -E 'Serves present device|^Summary:' || true)
fi
if [ -n "$installer" ]; then
  # One line per device served (a device is named once per ID of the INF file that fits it).
  echo "$installer" | sed -e 's/^ *//' | awk '
    /^Serves present device: / { device = $4; if (seen[device]++) next }
    { print "  " $0 }'
else
  echo "  no result lines"
fi

echo
echo "== Full log: $full_log (UTF-16), last lines:"
if [ -n "$full_text" ]; then
  printf '%s\n' "$full_text" | tail -n 6 | sed 's/^/  /'
else
  echo "  (not written; the program's own output is in $log)"
fi

echo
case "$status" in
  0) echo "Velmora ended by itself with exit status 0." ;;
  124) echo "Velmora did not end within 10 minutes and was stopped (exit status 124); see $log." ;;
  *) echo "Velmora ended with exit status $status; see $log." ;;
esac
exit "$status"
