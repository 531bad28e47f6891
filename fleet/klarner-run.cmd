@echo off
rem Runs Velmora Klarner for the tools that look after many machines, in one step:
rem   klarner-run.cmd detect   lists the leftovers (exit code 1 when there are any)
rem   klarner-run.cmd remove   removes them, each backed up first
rem Further switches (for example /keywords=...) go in KLARNER_SWITCHES: batch parameters would be
rem split at their "=". The report, the backup and the JSON record go to KLARNER_LOGS (by default
rem %ProgramData%\KlarnerLogs), and the root key is KLARNER_ROOT (by default HKLM). The exit code
rem is the program's, and the last line of the output is the run's summary line. Success codes for
rem software distribution: 0 (clean) and 3010 (clean once the machine restarts); 1 means leftovers
rem remain, and every other code that the run could not do its work (9009: no klarner.exe, 5: a log
rem folder that is not the administrators', 87: bad switches).
rem The log folder is made for SYSTEM and the Administrators only: the program writes its report
rem and backups there as SYSTEM, and a folder that someone else made (and could plant links in) is
rem refused.
setlocal EnableDelayedExpansion
if not defined KLARNER_EXE (
  if exist "%~dp0klarner.exe" (set "KLARNER_EXE=%~dp0klarner.exe") else (set "KLARNER_EXE=%~dp0..\klarner.exe")
)
if not defined KLARNER_LOGS set "KLARNER_LOGS=%ProgramData%\KlarnerLogs"
if not defined KLARNER_ROOT set "KLARNER_ROOT=HKLM"
if "%KLARNER_LOGS:~-1%"=="\" set "KLARNER_LOGS=%KLARNER_LOGS:~0,-1%"
set "MODE=%~1"
if /i not "!MODE!"=="detect" if /i not "!MODE!"=="remove" (
  echo usage: klarner-run.cmd detect^|remove 1>&2
  exit /b 87
)
rem Switches are passed on as text, never as commands: a "&", "|", "<" or ">" in them is refused.
rem (Each line expands them inside quotes, the quotes themselves taken out first.)
set "SWITCHES="
if not defined KLARNER_SWITCHES goto :switches_checked
set "SWITCHES=!KLARNER_SWITCHES!"
set "PLAIN=%KLARNER_SWITCHES:"=%"
set "CHECK=%PLAIN:&=%"
set "CHECK=%CHECK:|=%"
set "CHECK=%CHECK:<=%"
set "CHECK=%CHECK:>=%"
if not "!CHECK!"=="!PLAIN!" (
  echo Velmora Klarner: KLARNER_SWITCHES holds a command character ^(^& ^| ^< ^>^); nothing was run; exit code 87
  exit /b 87
)
:switches_checked
if not exist "!KLARNER_EXE!" (
  echo Velmora Klarner: klarner.exe not found at !KLARNER_EXE!; nothing was run; exit code 9009
  exit /b 9009
)
if not exist "!KLARNER_LOGS!\" goto :make_logs
rem A folder that is there already is used only when SYSTEM or the Administrators own it.
set "OWNER="
for /f "usebackq delims=" %%o in (`powershell -NoProfile -NonInteractive -Command "(Get-Acl -LiteralPath $env:KLARNER_LOGS).GetOwner([Security.Principal.SecurityIdentifier]).Value" 2^>nul`) do set "OWNER=%%o"
if "!OWNER!"=="S-1-5-18" goto :logs_ready
if "!OWNER!"=="S-1-5-32-544" goto :logs_ready
echo Velmora Klarner: the log folder !KLARNER_LOGS! is not owned by SYSTEM or the Administrators ^(owner: !OWNER!^); nothing was run; exit code 5
exit /b 5
:make_logs
mkdir "!KLARNER_LOGS!" 2>nul
if not exist "!KLARNER_LOGS!\" (
  echo Velmora Klarner: the log folder !KLARNER_LOGS! cannot be made; nothing was run; exit code 5
  exit /b 5
)
icacls "!KLARNER_LOGS!" /inheritance:r /grant:r *S-1-5-18:(OI)(CI)F *S-1-5-32-544:(OI)(CI)F >nul
:logs_ready
if /i "!MODE!"=="detect" (
  "!KLARNER_EXE!" "/silent=!KLARNER_LOGS!\klarner-check-[DATE].txt" /hkey=!KLARNER_ROOT! /json !SWITCHES!
) else (
  "!KLARNER_EXE!" "/silent=!KLARNER_LOGS!\klarner-[DATE].txt" /hkey=!KLARNER_ROOT! /json /del !SWITCHES!
)
exit /b !ERRORLEVEL!
