// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the logging layer's message boxes, shown with Qt.
#include "app/qt/QtMessageBoxes.h"

#include <QMessageBox>

void QtMessageBoxSink::Show(BoxKind kind, const std::string& caption, const std::string& text) {
    const QMessageBox::Icon icon = kind == BoxKind::Error ? QMessageBox::Critical : QMessageBox::Information;
    QMessageBox box(icon, QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())),
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok);
    box.exec();
}
