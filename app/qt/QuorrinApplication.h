// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Qt application object: an exception that escapes an
// event handler ends the program through the terminate handler.
#pragma once

#include <QApplication>

class QuorrinApplication : public QApplication {
public:
    QuorrinApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};
