#!/usr/bin/env bash
# The Windows program's tests under Wine in a virtual X server: the front end's tests
# (tests/win32_ui), then end-to-end cases, each of which runs
# Velmora_TAVI.exe from a fresh copy of the installed program folder with a fresh working
# folder and checks what it leaves behind (configuration, log on standard error, exit status).
# Usage: scripts/e2e-win32.sh [program folder=build/win32/install, build/win64/install where the
# 64-bit variant runs: scripts/wine-env.sh]
# Cases: inir, unth without packs, untd with the test double of the archive tool (7z.exe, in both
# output forms) that the win32-tests preset builds and the program's own installer (DPINST.exe);
# untd also checks that the clean.cmd it starts at the end empties the working folder; and unth
# with a device made for the case (the device maker of the win32-tests preset) and a pack holding
# its driver, which the installer installs on it.
# VELMORA_E2E_CASES (words: ui inir unth untd unth-device) runs only those cases.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
program_dir="$(realpath "${1:-build/$WIN_PRESET/install}")"
if [ ! -f "$program_dir/Velmora_TAVI.exe" ]; then
  echo "No program in $program_dir: build it first (bash scripts/build.sh $WIN_PRESET)." >&2
  exit 1
fi
for tool in xvfb-run; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/setup.sh test." >&2; exit 1; }
done
wine_prefix_ready
scratch="$(mktemp -d)"
trap 'wineserver -k 2>/dev/null || true; [ -n "${VELMORA_KEEP_SCRATCH:-}" ] || rm -rf "$scratch"' EXIT
failures=0

# The English text of a message key, without its line end.
msg() { grep -m1 "^$1=" "$program_dir/lng/english.lng" | cut -d= -f2- | tr -d '\r'; }
fail() { echo "  FAIL: $*"; failures=$((failures + 1)); }
# expect_ini <file> <section> <key> <value>
expect_ini() {
  local got
  got="$(awk -v s="[$2]" -v k="$3" 'BEGIN{FS="="} {sub(/\r$/,"")} /^\[/{in_s=($0==s); next}
    in_s && $1==k {sub(/^[^=]*=/,""); print; exit}' "$1")"
  [ "$got" = "$4" ] || fail "$(basename "$1") [$2] $3 is \"$got\", expected \"$4\""
}

# Copies the program folder for one case and empties the working folder; sets prog and log.
prepare() {
  prog="$scratch/$1/prog"
  log="$scratch/$1/stderr.log"
  mkdir -p "$scratch/$1"
  cp -a "$program_dir" "$prog"
  rm -rf "$(wine_windows_folder)/dp_tavi"
}

# Starts the program with its arguments in the background; sets pid. The virtual X server stays
# until every Wine process has ended, so the clean.cmd the program starts and leaves running at
# the end of a run is not cut off with the X server's end; pid ends with them. Wine's own
# services stay for good once a device has been given a driver (its driver host keeps running),
# so that wait is bounded: a minute is far more than clean.cmd needs.
start() {
  xvfb-run -a -s "-screen 0 1024x768x24" \
    sh -c '"$WINE" "$0" "$@"; status=$?; timeout 60 wineserver -w; exit "$status"' "$prog/Velmora_TAVI.exe" "$@" >"$log" 2>&1 &
  pid=$!
}

# Waits for the program started by start() to end, up to <seconds> (a guard against a program that
# hangs, set far above what a loaded machine needs: the run itself is never timed); when it does not end, records
# what every Wine process of the prefix is doing (the process list and each thread's backtrace,
# through winedbg) in the case's folder and shows the program's own threads and those of the
# console programs it starts, so a program that stays open leaves evidence of where it waits.
# False when the program did not end.
wait_for_end() {
  timeout "$1" tail --pid="$pid" -f /dev/null && return 0
  local state="$(dirname "$log")/wine-state.txt"
  {
    echo "== Wine processes"
    ps -eo pid,ppid,stat,etime,wchan:24,args | grep -E '[A-Z]:\\|Velmora_TAVI\.exe' | grep -v grep || true
    echo "== backtraces"
    timeout 120 "$WINE" winedbg --command "bt all" 2>&1 || true
  } >"$state"
  echo "  the program is still running; what the Wine processes do is in $state. Its own threads:"
  awk '/^Backtracing for thread/ {show = /Velmora_TAVI\.exe|cmd\.exe|conhost\.exe/} show' "$state" | sed 's/^/    /'
  return 1
}

# Waits up to <seconds> for a text in the log; false when it did not come.
wait_for() {
  local deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    grep -qF -- "$1" "$log" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || { grep -qF -- "$1" "$log" 2>/dev/null; return; }
    sleep 0.5
  done
  return 1
}

case_inir() {
  echo "== /inir: a first start writes the configuration and stays open"
  prepare inir
  start /inir
  local configured
  configured="$(msg log44)"
  wait_for "$configured" 600 || fail "no \"$configured\" in the log"
  sleep 3
  kill -0 "$pid" 2>/dev/null || fail "the program ended by itself after /inir"
  wineserver -k 2>/dev/null || true
  wait "$pid" 2>/dev/null || true

  grep -qF "$(msg log45)" "$log" || fail "no start line \"$(msg log45)\""
  grep -qF "$(msg log40 | sed 's|%s|/inir|')" "$log" || fail "no line naming the switch /inir"
  [ "$(grep -c '^=\{129\}$' <(tr -d '\r' <"$log"))" -eq 2 ] || fail "the banner's two lines of 129 \"=\" are missing"
  local ini="$prog/dp_tavi.ini"
  if [ ! -f "$ini" ]; then
    fail "no dp_tavi.ini beside the program"
  else
    local here workdir
    here="$(wine_path "$prog")"
    workdir='C:\windows\dp_tavi\'
    expect_ini "$ini" Program Initial no
    expect_ini "$ini" Program "Start From" "Non CD"
    expect_ini "$ini" Program AppMainPath "$here\\Velmora_TAVI.exe"
    expect_ini "$ini" Program Workdir "$workdir"
    expect_ini "$ini" Program LanguageFile "$here\\lng\\english.lng"
    expect_ini "$ini" Program CMDPackDir "$here\\DP\\"
    expect_ini "$ini" Automation AutoDPInstall No
  fi
  [ -d "$(wine_windows_folder)/dp_tavi" ] || fail "no working folder C:\\windows\\dp_tavi"
}

case_unth_without_packs() {
  echo "== /unth without packs: the run fails, saves its log and the program closes by itself with status 1"
  prepare unth
  start /unth
  local status=0 began=$SECONDS
  wait_for_end 600 || fail "the program did not close by itself"
  wait "$pid" || status=$?
  [ "$status" -eq 1 ] || fail "exit status $status, expected 1 (a step failed)"
  [ $((SECONDS - began)) -ge 10 ] || fail "closed after $((SECONDS - began)) s, before the 10-second timer"
  grep -qF "$(msg log81)" "$log" || fail "no \"$(msg log81)\" in the log"
  local saved
  saved="$(wine_windows_folder)/dp_tavi/UnattendedLOg.txt"
  if [ ! -f "$saved" ]; then
    fail "no UnattendedLOg.txt in the working folder"
  else
    [ "$(head -c 2 "$saved" | od -An -tx1 | tr -d ' ')" = fffe ] || fail "UnattendedLOg.txt is not UTF-16 with byte-order mark"
    iconv -f UTF-16 -t UTF-8 "$saved" | grep -qF "$(msg log81)" || fail "UnattendedLOg.txt lacks \"$(msg log81)\""
  fi
  expect_ini "$prog/dp_tavi.ini" Automation AutoDPInstall No
}

# case_untd <style> <folder of the doubles>: every demo pack, stored for the archive tool's double,
# is unpacked by /untd with the double speaking 7-Zip 9.20's form ("") or 16.02's ("modern"); the
# program's installer then reports every INF file it was given.
case_untd() {
  local style="$1" doubles="$2" name="untd-${1:-9.20}"
  echo "== /untd (${1:-9.20} archive tool): every pack unpacked and installed, then the program closes by itself"
  prepare "$name"
  cp "$doubles/7z.exe" "$prog/7z.exe"
  rm -rf "$prog/DP" && mkdir -p "$prog/DP"
  local expected="$scratch/$name/expected" pack_dir
  mkdir -p "$expected"
  for pack_dir in data/demo/*/; do
    pack_dir="${pack_dir%/}"
    bash tests/windows/archiver_double/make_test_pack.sh "$prog/DP/$(basename "$pack_dir").7z" "$pack_dir/D"
    cp -r "$pack_dir/D" "$expected/"
  done
  VELMORA_7Z_STYLE="$style" start /untd
  local status=0
  wait_for_end 900 || fail "the program did not close by itself"
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status, expected 0 (every step succeeded)"
  grep -qF "$(msg log43)" "$log" || fail "no \"$(msg log43)\" in the log"
  [ "$style" = modern ] && { grep -q -- ' -bb1' "$log" || fail "no command line with -bb1 for 7-Zip 16.02"; }
  local work file
  work="$(wine_windows_folder)/dp_tavi"
  # Every file of the packs was extracted: the archive tool's line for it is in the log
  # ("Extracting  <path>" from 7-Zip 9.20, "- <path>" from 16.02).
  (cd "$expected" && find D -type f) | while IFS= read -r file; do
    local shown="${file//\//\\}"
    grep -qF -e "Extracting  $shown" -e "- $shown" "$log" || echo "  FAIL: no extraction line for $file"
  done | tee "$scratch/$name/missing"
  [ -s "$scratch/$name/missing" ] && failures=$((failures + 1))
  for pack_dir in data/demo/*/; do
    grep -qF "$(msg log24 | sed "s|%s|$(basename "$pack_dir").7z|")" "$log" ||
      fail "$(basename "$pack_dir").7z was not processed"
    grep -qF "$(msg log79 | sed "s|%s|$(basename "$pack_dir").7z|")" "$log" &&
      fail "$(basename "$pack_dir").7z is not recorded as unpacked"
  done
  # The run ends by starting clean.cmd, which the program does not wait for: once it has
  # finished, the unpacked drivers and their record are gone and the working folder holds only
  # what the clean-up keeps (the program's own files, saved logs and reports, driver packs).
  local deadline=$((SECONDS + 60))
  while [ $SECONDS -lt $deadline ] && { [ -e "$work/Drivers" ] || [ -e "$work/UnpackedDP.txt" ]; }; do sleep 0.5; done
  [ ! -e "$work/Drivers" ] || fail "clean.cmd did not remove the unpacked drivers (Drivers) from the working folder"
  [ ! -e "$work/UnpackedDP.txt" ] || fail "clean.cmd did not remove UnpackedDP.txt"
  local entry
  for entry in "$work"/* "$work"/.[!.]*; do
    [ -e "$entry" ] || [ -L "$entry" ] || continue
    case "$(basename "$entry" | tr '[:upper:]' '[:lower:]')" in
      dp_tavi.ini | dp_tavi_error.log | hwids.ini | drivers.txt | classes.txt | hwidsl.txt | \
        hwidstemp.txt | oldtree.txt | newtree.txt | velmoratavi.xml | dp_content.ini | \
        dp_extract.ini | listofcomponents.ini | cmd | cmdout | *.7z) ;;
      *.txt) [ -d "$entry" ] && fail "clean.cmd left the folder $(basename "$entry")" ;;
      *) fail "clean.cmd left $(basename "$entry") in the working folder" ;;
    esac
  done
  # The installer is given the drivers folder alone (the working folder's Drivers), which the
  # packs were unpacked into: it reports exactly the INF files of the packs, and nothing of Wine's
  # own or of the index.
  (cd "$expected" && find D -iname '*.inf') | while IFS= read -r file; do
    grep -F "INFO: Driver package: " "$log" | grep -qF "\\${file//\//\\}" || echo "  FAIL: the installer did not report $file"
  done | tee "$scratch/$name/uninstalled"
  [ -s "$scratch/$name/uninstalled" ] && failures=$((failures + 1))
  local infs
  infs=$(cd "$expected" && find D -iname '*.inf' | wc -l)
  [ "$(grep -cF "INFO: Driver package: " "$log")" -eq "$infs" ] ||
    fail "the installer was not given exactly the $infs INF files of the packs"
  grep -F "INFO: Driver package: " "$log" | grep -qiF -e '\dp_tavi\Index\' -e '\windows\inf\' &&
    fail "the installer was given more than the drivers folder"
  [ ! -e "$(wine_windows_folder)/DPINST.LOG" ] || fail "DPINST.LOG was left behind"
  expect_ini "$prog/dp_tavi.ini" Automation AutoDPInstall No
}

# case_unth_device <folder of the test programs>: a device made for the case and a pack holding its
# driver (unsigned, so the descriptor beside the installer asks for legacy mode): /unth finds the
# driver by the device's ID, extracts it, and DPINST.exe installs it on the device.
case_unth_device() {
  local doubles="$1" name=unth-device
  echo "== /unth with a device and a pack holding its driver: the installer installs it, the program closes with status 0"
  prepare "$name"
  cp "$doubles/7z.exe" "$prog/7z.exe"
  rm -rf "$prog/DP" && mkdir -p "$prog/DP"
  local maker="$doubles/device_maker/velmora_device_maker.exe" src="$scratch/$name/src"
  local hwid='PCI\VEN_1AF4&DEV_7E57&SUBSYS_00011AF4&REV_01' instance='PCI\VEN_1AF4&DEV_7E57&SUBSYS_00011AF4&REV_01\3&7E57&0&08'
  mkdir -p "$src/D/Velmora/E2E"
  printf '%s\r\n' '[Version]' 'Signature="$WINDOWS NT$"' 'Class=VelmoraTest' \
    'ClassGuid={7E1A5C30-4B1D-4F6E-9A31-5D0C2E771042}' 'Provider=Velmora' 'DriverVer=01/01/2024,1.0.0.0' \
    '[Manufacturer]' 'Velmora=Models,NTx86,NTamd64' '[Models.NTx86]' "Velmora end-to-end device=Install,$hwid" \
    '[Models.NTamd64]' "Velmora end-to-end device=Install,$hwid" '[SourceDisksNames]' '1=disk' \
    '[SourceDisksFiles]' 'velmora_e2e.sys=1' '[DestinationDirs]' 'DefaultDestDir=12' '[Install]' 'CopyFiles=Files' \
    '[Files]' 'velmora_e2e.sys' '[Install.Services]' 'AddService=VelmoraE2E,0x00000002,Service' '[Service]' \
    'ServiceType=1' 'StartType=4' 'ErrorControl=1' 'ServiceBinary=%12%\velmora_e2e.sys' >"$src/D/Velmora/E2E/velmora_e2e.inf"
  echo "not a real driver" >"$src/D/Velmora/E2E/velmora_e2e.sys"
  bash tests/windows/archiver_double/make_test_pack.sh "$prog/DP/Velmora E2E.7z" "$src/D"
  if [ -f "$prog/DPInst.xml" ]; then
    sed -i 's|</dpinst>|<legacyMode/></dpinst>|' "$prog/DPInst.xml"
  else
    printf '<?xml version="1.0" ?>\r\n<dpinst><legacyMode/></dpinst>\r\n' >"$prog/DPInst.xml"
  fi
  "$WINE" "$maker" remove "$instance" >/dev/null 2>&1 || true
  "$WINE" "$maker" make "$instance" "$hwid" 'PCI\VEN_1AF4&DEV_7E57&SUBSYS_00011AF4' 'PCI\VEN_1AF4&DEV_7E57' ||
    { fail "the device $instance could not be made"; return; }
  # The device maker runs outside the virtual X server, and the Wine processes it leaves running
  # (the services and now and then the prefix's desktop process, explorer.exe /desktop) have no
  # display. A desktop started that way stays without a display driver, and the program then
  # shares it: its windows reach no X server and it did not close after its run. So every Wine
  # process of the prefix ends here (the device stays registered), and the program's run starts
  # them again under the virtual X server.
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  start /unth
  local status=0
  wait_for_end 900 || fail "the program did not close by itself"
  wait "$pid" || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status, expected 0 (every step succeeded)"
  local shown
  shown="$("$WINE" "$maker" show "$instance" | tr -d '\r')"
  grep -qx 'service=VelmoraE2E' <<<"$shown" || fail "the device has no driver service VelmoraE2E: $shown"
  # The device's driver names the package as the driver store holds it. Windows names the copy
  # oem<n>.inf; Wine's SetupCopyOEMInfW leaves an INF file that lies below the Windows folder (as
  # the working folder does) where it is and gives its own name back.
  local stored
  stored="$(sed -n 's/^inf=//p' <<<"$shown")"
  [ -n "$stored" ] || fail "the device's driver key names no INF file: $shown"
  tr -d '\r' <"$log" | grep -qE "INFO: (Added to|Already in) the driver store as ${stored//./\\.}$" ||
    fail "the device's driver $stored is not the package the installer added to the driver store"
  # DPINST.LOG was copied into the program's log line by line, then destroyed.
  grep -F "SUCCESS: Installed: " "$log" | grep -qF "velmora_e2e.inf on $instance" ||
    fail "no installer line \"SUCCESS: Installed: ...velmora_e2e.inf on $instance\" in the log"
  grep -qF "INFO: Summary: " "$log" || fail "no installer summary line in the log"
  [ ! -e "$(wine_windows_folder)/DPINST.LOG" ] || fail "DPINST.LOG was left behind"
  expect_ini "$prog/dp_tavi.ini" Automation AutoDPInstall No
  "$WINE" "$maker" remove "$instance" >/dev/null 2>&1 || true
}

wanted() { [ -z "${VELMORA_E2E_CASES:-}" ] || [[ " $VELMORA_E2E_CASES " == *" $1 "* ]]; }
# The front end's own tests first: the renderer and the dialogs over small window models.
ui_tests="$(dirname "$program_dir")/tests/win32_ui/velmora_win32_ui_tests.exe"
if ! wanted ui; then
  :
elif [ -f "$ui_tests" ]; then
  echo "== the Win32 front end's tests"
  timeout 300 xvfb-run -a -s "-screen 0 1024x768x24" "$WINE" "$ui_tests" --gtest_brief=1 || fail "the front end's tests"
  wineserver -k 2>/dev/null || true
else
  fail "no $ui_tests: build the $WIN_PRESET preset"
fi
wanted inir && case_inir
wanted unth && case_unth_without_packs
# The archive tool's double and the device maker come with the Windows test program.
doubles="build/$WIN_TESTS_PRESET/tests/windows"
[ -f "$program_dir/DPINST.exe" ] || fail "no DPINST.exe in $program_dir: build the $WIN_PRESET preset"
if ! wanted untd; then
  :
elif [ -f "$doubles/7z.exe" ]; then
  case_untd "" "$(realpath "$doubles")"
  case_untd modern "$(realpath "$doubles")"
else
  fail "no test double of the archive tool in $doubles: build the $WIN_TESTS_PRESET preset first"
fi
if ! wanted unth-device; then
  :
elif [ -f "$doubles/7z.exe" ] && [ -f "$doubles/device_maker/velmora_device_maker.exe" ]; then
  case_unth_device "$(realpath "$doubles")"
else
  fail "no test double of the archive tool or no device maker in $doubles: build the $WIN_TESTS_PRESET preset first"
fi

if [ "$failures" -ne 0 ]; then
  echo "Windows program end-to-end tests: $failures check(s) FAILED"
  exit 1
fi
echo "Windows program end-to-end tests passed"
