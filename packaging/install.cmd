@echo off
rem Registers Tonewell.dll from this folder; run it from an administrator's command prompt.
rem No parenthesised blocks: a folder such as "Program Files (x86)" would end them early.
setlocal
set "DLL=%~dp0Tonewell.dll"
if not exist "%DLL%" goto missing
"%SystemRoot%\System32\regsvr32.exe" /s "%DLL%"
if errorlevel 1 goto failed
echo Corvane Tonewell is registered from %DLL%.
echo Programs now list it among the audio capture sources. Keep the folder where it is;
echo uninstall.cmd removes the registration.
exit /b 0

:missing
echo install: %DLL% is missing.
exit /b 2

:failed
echo install: registering %DLL% failed. Run install.cmd from an administrator's command prompt.
exit /b 1
