@echo off
rem Runs Velmora Klarner for the tools that look after many machines, in one step:
rem   klarner-run.cmd detect   lists the leftovers (exit code 1 when there are any)
rem   klarner-run.cmd remove   removes them, each backed up first
rem Further switches (for example /keywords=...) go in KLARNER_SWITCHES: batch parameters would be
rem split at their "=". The report, the backup and the JSON record go to KLARNER_LOGS (by default
rem %ProgramData%\Velmora\Logs), and the root key is KLARNER_ROOT (by default HKLM). The exit code
rem is the program's, and the last line of the output is the run's summary line. Success codes for
rem software distribution: 0 (clean) and 3010 (clean once the machine restarts); 1 means leftovers
rem remain, and every other code that the run could not do its work.
setlocal
if not defined KLARNER_EXE (
  if exist "%~dp0klarner.exe" (set "KLARNER_EXE=%~dp0klarner.exe") else (set "KLARNER_EXE=%~dp0..\klarner.exe")
)
if not defined KLARNER_LOGS set "KLARNER_LOGS=%ProgramData%\Velmora\Logs"
if not defined KLARNER_ROOT set "KLARNER_ROOT=HKLM"
if not exist "%KLARNER_LOGS%" mkdir "%KLARNER_LOGS%"
set "MODE=%~1"
if /i "%MODE%"=="detect" (
  "%KLARNER_EXE%" "/silent=%KLARNER_LOGS%\klarner-check-[DATE].txt" /hkey=%KLARNER_ROOT% /json %KLARNER_SWITCHES%
) else if /i "%MODE%"=="remove" (
  "%KLARNER_EXE%" "/silent=%KLARNER_LOGS%\klarner-[DATE].txt" /hkey=%KLARNER_ROOT% /json /del %KLARNER_SWITCHES%
) else (
  echo usage: klarner-run.cmd detect^|remove 1>&2
  exit /b 87
)
exit /b %ERRORLEVEL%
