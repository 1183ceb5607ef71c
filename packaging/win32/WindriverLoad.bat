@rem SPDX-License-Identifier: GPL-2.0-or-later
@echo off
rem Quorrin starts this once when the WinDriver driver does not answer.
rem The driver comes with its own installer; replace this file with the
rem driver's WindriverLoad.bat to have Quorrin install it.
echo WindriverLoad: the WinDriver kernel driver (\\.\WINDRVR6) is not installed. Install it with its own installer, as an administrator. > "%~dp0WindriverLoad.txt" 2>nul
exit /b 1
