#!/bin/sh
# clean.cmd - removes the unpacked driver folders and extracted files from Velmora's
# working folder, with the record of unpacked packs (UnpackedDP.txt), and keeps the program's
# own files there.
#
# Usage: clean.cmd [working-folder]
#
# Without an argument the working folder is found as the program finds it: the Windows
# folder followed by dp_tavi, where the Windows folder is $VELMORA_WINDIR, or else
# $XDG_DATA_HOME/velmora (default ~/.local/share/velmora).
#
# Safety rules:
#  - it works only on an existing folder named dp_tavi that is not "/" and not itself a
#    symbolic link; otherwise it refuses with a message and exit status 1;
#  - driver packs (*.7z, any letter case) are never deleted, at the top level or inside a
#    folder; a folder that holds packs loses everything but the packs;
#  - nothing outside the working folder is touched: symbolic links are removed as links and
#    never followed, and removal does not cross into other mounted file systems;
#  - names with blanks, line breaks or a leading "-" are handled.
# Exit status: 0 done, 1 refused, 2 some entries could not be removed.

LC_ALL=C
export LC_ALL
unset CDPATH

fail() {
  printf 'clean.cmd: %s\n' "$1" >&2
  exit 1
}

if [ "$#" -gt 1 ]; then
  fail "usage: clean.cmd [working-folder]"
fi

if [ "$#" -eq 1 ]; then
  dir=$1
else
  if [ -n "${VELMORA_WINDIR:-}" ]; then
    windir=$VELMORA_WINDIR
  elif [ -n "${XDG_DATA_HOME:-}" ]; then
    windir=$XDG_DATA_HOME/velmora
  elif [ -n "${HOME:-}" ]; then
    windir=$HOME/.local/share/velmora
  else
    fail "cannot find the working folder: neither VELMORA_WINDIR, XDG_DATA_HOME nor HOME is set"
  fi
  dir=$windir/dp_tavi
fi

[ -n "$dir" ] || fail "the working folder is an empty text"

# Drop trailing slashes ("dp_tavi/" names the same folder); "/" stays "/".
while :; do
  case $dir in
    /) break ;;
    */) dir=${dir%/} ;;
    *) break ;;
  esac
done
[ "$dir" != / ] || fail "refusing to clean the root folder"
# A relative name that starts with "-" must not be read as an option.
case $dir in
  /*) ;;
  *) dir=./$dir ;;
esac

if [ -L "$dir" ]; then
  fail "refusing to clean $dir: the working folder is a symbolic link"
fi
[ -e "$dir" ] || fail "working folder not found: $dir"
[ -d "$dir" ] || fail "not a folder: $dir"

real=$(cd -P "$dir" && pwd -P) || fail "cannot enter the working folder $dir"
[ -n "$real" ] && [ "$real" != / ] || fail "refusing to clean the root folder"
case ${real##*/} in
  dp_tavi) ;;
  *) fail "refusing to clean $real: the working folder must be named dp_tavi" ;;
esac

# Each top-level entry is judged on its own; the names come to the inner script as
# arguments, so no name is ever split or interpreted.
find -P "$real" -mindepth 1 -maxdepth 1 -exec sh -c '
  status=0
  for entry do
    name=${entry##*/}
    lower=$(printf "%sx" "$name" | tr "[:upper:]" "[:lower:]")
    lower=${lower%x}
    case $lower in
      # The record of unpacked packs goes with the unpacked drivers.
      unpackeddp.txt)
        if [ -L "$entry" ] || [ ! -d "$entry" ]; then rm -f -- "$entry" || status=2; continue; fi ;;
      # The program'"'"'s own files.
      dp_tavi.ini | dp_tavi_error.log | unattendedlog.txt | hwids.ini | \
      drivers.txt | classes.txt | hwidsl.txt | hwidstemp.txt | oldtree.txt | newtree.txt | \
      velmoratavi.xml | dp_content.ini | dp_extract.ini | listofcomponents.ini | cmd | cmdout)
        continue ;;
      # A driver pack.
      *.7z)
        continue ;;
      # Saved logs and reports, and the list files of the extraction; a folder of that
      # name is not one of them.
      *.txt)
        if [ -L "$entry" ] || [ ! -d "$entry" ]; then continue; fi ;;
    esac
    if [ -d "$entry" ] && [ ! -L "$entry" ]; then
      if [ -n "$(find -P "$entry" -xdev -iname "*.7z" -print 2>/dev/null | head -n 1)" ]; then
        # Driver packs inside: remove everything else, then the folders left empty.
        find -P "$entry" -xdev ! -type d ! -iname "*.7z" -delete || status=2
        find -P "$entry" -xdev -mindepth 1 -type d -empty -delete || status=2
      else
        rm -rf --one-file-system -- "$entry" || status=2
      fi
    else
      rm -f -- "$entry" || status=2
    fi
  done
  exit "$status"
' clean.cmd {} + || exit 2

exit 0
