@echo off
rem Removes the registration of Tonewell.dll in this folder; run it from an administrator's
rem command prompt before the folder is moved or deleted.
rem No parenthesised blocks: a folder such as "Program Files (x86)" would end them early.
setlocal
set "DLL=%~dp0Tonewell.dll"
if not exist "%DLL%" goto missing
"%SystemRoot%\System32\regsvr32.exe" /u /s "%DLL%"
if errorlevel 1 goto failed
echo Corvane Tonewell is no longer registered; the folder can be deleted.
exit /b 0

:missing
echo uninstall: %DLL% is missing.
exit /b 2

:failed
echo uninstall: unregistering %DLL% failed. Run uninstall.cmd from an administrator's command prompt.
exit /b 1
