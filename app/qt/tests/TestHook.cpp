// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin test support -- preloaded (LD_PRELOAD) into the real quorrin by its
// tests, never part of the program: it writes down and answers every message
// box, opens the viewer from the menu when asked, says when the window is
// ready, and then closes the window (after a sniff, if asked), throws from an
// event handler, or waits for a close file, as QUORRIN_HOOK_* asks.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <stdexcept>

namespace {

QString Setting(const char* name) { return QString::fromLocal8Bit(std::getenv(name)); }

void AppendLine(const QString& path, const QString& line) {
    QFile file(path);
    if (file.open(QIODevice::Append)) file.write((line + '\n').toUtf8());
}

QWidget* MainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("MainForm")) return w;
    }
    return nullptr;
}

bool PostShowDone(QWidget* window) {
    auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("MemoSnif"));
    return memo != nullptr &&
           memo->toPlainText() == QLatin1String("\n            Press the 'Sniff The PCI Bus' button.\n");
}

void Install() {
    auto* poll = new QTimer(QCoreApplication::instance());
    poll->setInterval(50);
    QObject::connect(poll, &QTimer::timeout, [] {
        static bool acted = false;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            if (!Setting("QUORRIN_HOOK_BOXES").isEmpty()) {
                AppendLine(Setting("QUORRIN_HOOK_BOXES"),
                           box->windowTitle() + '|' + box->text() + "|icon=" + QString::number(box->icon()) +
                               "|buttons=" + QString::number(int(box->standardButtons())));
            }
            if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
                ok->click();
            } else {
                box->done(0);
            }
            return;
        }
        QWidget* window = MainWindow();
        if (window == nullptr || !window->isVisible() || !PostShowDone(window) || acted) return;
        static bool viewer = false;
        if (!viewer && !Setting("QUORRIN_HOOK_VIEWER").isEmpty()) {
            viewer = true;
            if (auto* item = window->findChild<QAction*>(QStringLiteral("MenuViewErrorLog"))) item->trigger();
        }
        const QString ready = Setting("QUORRIN_HOOK_READY");
        if (!ready.isEmpty() && !QFile::exists(ready)) AppendLine(ready, QStringLiteral("ready"));
        const QString action = Setting("QUORRIN_HOOK_ACTION");
        if (action == QLatin1String("close")) {
            acted = true;
            window->close();
        } else if (action == QLatin1String("sniff")) {
            acted = true;
            if (auto* button = window->findChild<QAbstractButton*>(QStringLiteral("ButtonSniff"))) button->click();
            window->close();
        } else if (action == QLatin1String("throw")) {
            acted = true;
            QTimer::singleShot(0, window, [] { throw std::runtime_error("thrown by a test from an event handler"); });
        } else if (action == QLatin1String("wait")) {
            if (QFile::exists(Setting("QUORRIN_HOOK_CLOSE_FILE"))) {
                acted = true;
                window->close();
            }
        }
    });
    poll->start();
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Install)
