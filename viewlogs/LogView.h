// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs -- a read-only window on one text file that follows it as it
// grows, starts over when it is truncated or replaced, and waits for it
// while it does not exist.
#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>
#include <QWidget>

#include "viewlogs/core/LogFollower.h"

class LogView : public QWidget {
    Q_OBJECT
public:
    explicit LogView(const QString& path, QWidget* parent = nullptr);

    QString Text() const { return text_->toPlainText(); }
    QString Status() const { return status_->text(); }
    bool FileShown() const { return present_; }

public slots:
    // Looks at the file now; the watcher and a periodic check call it too.
    void Refresh();

private:
    void ShowMissing();
    void Append(const std::string& text);
    void Watch();

    QString path_;
    QPlainTextEdit* text_;
    QLabel* status_;
    QFileSystemWatcher watcher_;
    QTimer poll_;
    viewlogs::LogFollower follower_;
    bool present_ = false;
};
