// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the logging layer's message boxes, shown with MessageBoxA.
#include "app/win32/Win32MessageBoxes.h"

#include <windows.h>

#include "app/win32/TMainForm.h"

void Win32MessageBoxSink::Show(BoxKind kind, const std::string& caption, const std::string& text) {
    const UINT icon = kind == BoxKind::Error ? MB_ICONERROR : MB_ICONINFORMATION;
    // Owned by the window while there is one, so it stays in front of it.
    MessageBoxA(TMainForm::LiveHandle, text.c_str(), caption.c_str(), MB_OK | icon);
}
