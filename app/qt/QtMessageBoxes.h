// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the logging layer's message boxes, shown with Qt.
#pragma once

#include "log/wexerrorlog.h"

class QtMessageBoxSink : public MessageBoxSink {
public:
    void Show(BoxKind kind, const std::string& caption, const std::string& text) override;
};
