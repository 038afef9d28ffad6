@echo off
rem Unregisters OstrelZeltoDLL.dll of both widths (see register.cmd). Run it as administrator.
call "%~dp0register.cmd" /u
