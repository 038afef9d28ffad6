@echo off
rem Registers OstrelZeltoDLL.dll for both widths: x64\ with the 64-bit regsvr32 and x86\ with the
rem 32-bit one (on 32-bit Windows: x86\ only). "register.cmd /u" unregisters (unregister.cmd).
rem The keys go to HKEY_LOCAL_MACHINE: run it as administrator.
setlocal
set "here=%~dp0"
set "flag="
set "doing=Registering"
if /i "%~1"=="/u" (
    set "flag=/u"
    set "doing=Unregistering"
)

rem Where each width's regsvr32 is. A 32-bit command prompt on 64-bit Windows reaches the 64-bit
rem System32 as Sysnative (System32 is redirected to SysWOW64 for it).
set "sys64="
set "sys32=%SystemRoot%\System32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" (
    set "sys64=%SystemRoot%\System32"
    set "sys32=%SystemRoot%\SysWOW64"
)
if defined PROCESSOR_ARCHITEW6432 (
    set "sys64=%SystemRoot%\Sysnative"
    set "sys32=%SystemRoot%\SysWOW64"
)

set "status=0"
if defined sys64 call :one 64-bit "%sys64%" x64
call :one 32-bit "%sys32%" x86
if "%status%"=="0" echo %doing% done.
exit /b %status%

:one
echo %doing% the %~1 server %here%%~3\OstrelZeltoDLL.dll
if not exist "%~2\regsvr32.exe" (
    set "status=9009"
    echo FAILED: there is no %~2\regsvr32.exe: this system has no %~1 programs.
    exit /b 0
)
"%~2\regsvr32.exe" /s %flag% "%here%%~3\OstrelZeltoDLL.dll"
set "code=%errorlevel%"
if "%code%"=="0" exit /b 0
set "status=%code%"
if "%code%"=="9009" (
    echo FAILED: %~2\regsvr32.exe could not be started: this system does not run %~1 programs.
    exit /b 0
)
rem regsvr32 exits with 5 when the server's own registration failed: without administrator rights
rem it may not write to HKEY_LOCAL_MACHINE.
net session >nul 2>&1
if errorlevel 1 if "%code%"=="5" (
    echo FAILED: this needs administrator rights. Right-click the script and choose "Run as
    echo administrator", or run it from a command prompt opened as administrator.
    exit /b 0
)
echo FAILED: %~2\regsvr32.exe %flag% ended with status %code% for %here%%~3\OstrelZeltoDLL.dll
exit /b 0
