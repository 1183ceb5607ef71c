// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Qt application object.
#include "app/qt/QuorrinApplication.h"

#include <exception>

bool QuorrinApplication::notify(QObject* receiver, QEvent* event) {
    // Qt cannot carry an exception through its event loop. Ending here, with
    // the exception still current, runs the terminate handler at once and
    // before anything is unwound, whatever Qt's own build does with it.
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        std::terminate();
    }
}
