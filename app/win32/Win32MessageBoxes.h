// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the logging layer's message boxes, shown with MessageBoxA.
#pragma once

#include "log/wexerrorlog.h"

class Win32MessageBoxSink : public MessageBoxSink {
public:
    void Show(BoxKind kind, const std::string& caption, const std::string& text) override;
};
