@echo off
rem clean.cmd - removes the unpacked driver folders and extracted files from Velmora's
rem working folder, with the record of unpacked packs (UnpackedDP.txt), and keeps the
rem program's own files there. The Windows form of the clean-up; the program starts it
rem hidden and does not wait for it.
rem
rem Usage: clean.cmd [working-folder]
rem Without an argument the working folder is %WINDIR%\dp_tavi, where the program keeps it.
rem
rem Safety rules:
rem  - it works only on an existing folder named dp_tavi (any letter case) that is not itself
rem    a junction or symbolic link; otherwise it refuses with a message and exit code 1;
rem  - driver packs (*.7z, any letter case) are never deleted, at the top level or inside a
rem    folder; a folder that holds packs loses everything but the packs;
rem  - junctions and symbolic links are removed as links and never followed: folders are
rem    emptied entry by entry here rather than with "rd /s", which under Wine follows links;
rem    under Wine, whose "rd" and "del" act on what a link leads to, links are left alone;
rem  - names with blanks, "&", "(", ")", "%" and "!" are handled: names only ever pass through
rem    variables expanded inside quotes, never as "call" arguments, and delayed expansion is off
rem    (under Wine, which expands "%" in a value again, a name holding "%" may be left alone);
rem  - what is left alone or cannot be removed is reported by the exit code.
rem Exit code: 0 done, 1 refused, 2 some entries could not be removed.

setlocal EnableExtensions DisableDelayedExpansion
rem Wine's cmd cannot parse "if A if not B": where two conditions meet, the "not" comes first.

set "work=%~1"
set "extra=%~2"
if defined extra goto usage
if not "%2"=="" goto usage
if defined work goto have_folder
rem %1 is empty here or an empty quoted text: the latter is refused.
if not "%1"=="" goto empty_name
if not defined WINDIR goto no_windir
set "work=%WINDIR%\dp_tavi"

:have_folder
rem Drop trailing separators ("dp_tavi\" names the same folder).
if "%work:~-1%"=="\" (set "work=%work:~0,-1%" & goto have_folder)
if "%work:~-1%"=="/" (set "work=%work:~0,-1%" & goto have_folder)
if not defined work goto root
if "%work:~-1%"==":" goto root
set "full="
set "name="
set "attr="
for %%I in ("%work%") do (
  set "full=%%~fI"
  set "name=%%~nxI"
  set "attr=%%~aI"
)
if not defined name goto root
if not defined attr goto not_found
if not "%attr:l=%"=="%attr%" goto is_link
if not "%attr:~0,1%"=="d" goto not_folder
if /i not "%name%"=="dp_tavi" goto wrong_name
rem Wine's cmd neither reports a failed pushd reliably nor honours "||", so whether the
rem folder was entered is told by the current folder.
set "here=%cd%"
pushd "%full%" 2>nul
if /i not "%cd%"=="%full%" if "%cd%"=="%here%" goto cannot_enter
set "top_cd=%cd%"

set "status=0"
set "under_wine="
reg query "HKLM\Software\Wine" >nul 2>&1
if not errorlevel 1 set "under_wine=1"
set "own=dp_tavi.ini DP_TAVI_Error.log UnattendedLOg.txt HWIDs.ini drivers.txt classes.txt"
set "own=%own% HWIDSL.txt HWIDSTEMP.txt oldtree.txt newtree.txt VelmoraTAVI.XML DP_Content.ini"
set "own=%own% DP_Extract.ini ListOfComponents.ini cmd cmdout"
set "top=1"
call :empty_folder
popd
exit /b %status%

rem ---- empties the current folder but for driver packs; in the working folder itself ("top"
rem set) it also keeps the program's own files
:empty_folder
for /f "eol=| delims=" %%E in ('dir /b /a 2^>nul') do (
  set "name=%%E"
  call :entry
)
exit /b 0

rem ---- one entry of the current folder, named in "name"
:entry
rem Only an entry of this folder is acted on. Wine's cmd expands "%" in a variable's value
rem once more, so there a name holding "%" may come out as another name ("%WINDIR%" as
rem C:\windows): such a name is left alone when it does not name an entry of this folder.
set "here=%cd%\"
set "inside="
for %%A in ("%name%") do if /i "%%~dpA"=="%here%" set "inside=1"
if not defined inside goto entry_left
if "%name%"=="." goto entry_left
if "%name%"==".." goto entry_left
set "attr="
for %%A in ("%name%") do set "attr=%%~aA"
if not defined attr goto entry_left
set "islink="
set "realdir="
if not "%attr:l=%"=="%attr%" set "islink=1"
if not defined islink if "%attr:~0,1%"=="d" set "realdir=1"
rem Wine's "rd" and "del" act on what a symbolic link leads to, not on the link: under Wine a
rem link is left alone and reported. (Wine shows only links to folders as links; a link to a
rem file looks like the file itself there, and Wine cannot make links, so the clean-up never
rem meets one in the Wine tests.)
if defined islink if defined under_wine goto entry_left
rem A driver pack.
if /i "%name:~-3%"==".7z" exit /b 0
if not defined top goto remove_entry
rem The record of unpacked packs goes with the unpacked drivers.
if not defined realdir if /i "%name%"=="UnpackedDP.txt" goto remove_entry
rem The program's own files.
for %%K in (%own%) do if /i "%name%"=="%%K" exit /b 0
rem Saved logs and reports, and the list files of the extraction; a folder of that name is
rem not one of them.
if not defined realdir if /i "%name:~-4%"==".txt" exit /b 0

:remove_entry
if defined islink goto remove_link
if defined realdir goto remove_folder
del /f /q /a "%name%" >nul 2>&1
if exist "%name%" set "status=2"
exit /b 0

:remove_link
rem A junction or a link: the link goes, what it leads to stays ("del" on a link to a folder
rem would empty the folder it leads to, so such a link is only ever given to "rd").
if "%attr:~0,1%"=="d" (rd "%name%" >nul 2>&1) else (del /f /q /a "%name%" >nul 2>&1)
set "attr="
for %%A in ("%name%") do set "attr=%%~aA"
if defined attr set "status=2"
exit /b 0

:remove_folder
rem Emptied entry by entry rather than with "rd /s", which under Wine follows links out of
rem the folder. The loop variable keeps the folder's name while "name" is reused inside.
set "here=%cd%"
pushd "%name%" 2>nul
rem Wine's cmd neither reports a failed pushd reliably nor honours "||": whether the folder
rem was entered is told by the current folder.
if "%cd%"=="%here%" goto entry_left
for %%A in ("%name%") do (
  set "top="
  call :empty_folder
  popd
  rd "%%~A" >nul 2>&1
  rem Still there: right when it holds driver packs, a failure otherwise.
  if exist "%%~A\" (
    call :no_error
    dir /s /b /a-d "%%~A\*.7z" >nul 2>&1
    if errorlevel 1 set "status=2"
  )
)
if "%cd%"=="%top_cd%" set "top=1"
exit /b 0

:entry_left
set "status=2"
exit /b 0

:no_error
exit /b 0

:usage
>&2 echo clean.cmd: usage: clean.cmd [working-folder]
exit /b 1
:empty_name
>&2 echo clean.cmd: the working folder is an empty text
exit /b 1
:no_windir
>&2 echo clean.cmd: cannot find the working folder: WINDIR is not set
exit /b 1
:root
>&2 echo clean.cmd: refusing to clean the root folder
exit /b 1
:not_found
>&2 echo clean.cmd: working folder not found: "%work%"
exit /b 1
:is_link
>&2 echo clean.cmd: refusing to clean "%full%": the working folder is a junction or symbolic link
exit /b 1
:not_folder
>&2 echo clean.cmd: not a folder: "%full%"
exit /b 1
:wrong_name
>&2 echo clean.cmd: refusing to clean "%full%": the working folder must be named dp_tavi
exit /b 1
:cannot_enter
>&2 echo clean.cmd: cannot enter the working folder "%full%"
exit /b 1
