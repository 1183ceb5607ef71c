// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs -- the following text view.
#include "viewlogs/LogView.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int PollMs = 500;

}  // namespace

LogView::LogView(const QString& path, QWidget* parent)
    : QWidget(parent),
      path_(path),
      text_(new QPlainTextEdit(this)),
      status_(new QLabel(this)),
      follower_(path.toLocal8Bit().toStdString(), viewlogs::StandardOpener()) {
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(status_);
    setWindowTitle("ViewLogs - " + path_);
    resize(900, 600);

    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &LogView::Refresh);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &LogView::Refresh);
    // Watches miss changes on some file systems and lapse when the file is
    // replaced; a slow periodic look covers both.
    connect(&poll_, &QTimer::timeout, this, &LogView::Refresh);
    poll_.start(PollMs);
    Refresh();
}

void LogView::Watch() {
    const QString folder = QFileInfo(path_).absolutePath();
    if (!watcher_.directories().contains(folder) && QFileInfo(folder).isDir()) watcher_.addPath(folder);
    if (!watcher_.files().contains(path_) && QFileInfo::exists(path_)) watcher_.addPath(path_);
}

void LogView::ShowMissing() {
    present_ = false;
    text_->clear();
    status_->setText(QString::fromLocal8Bit(viewlogs::StatusText(follower_)));
}

void LogView::Refresh() {
    Watch();
    const viewlogs::PollResult polled = follower_.Poll();
    switch (polled.kind) {
        case viewlogs::PollKind::Missing:
            if (present_ || status_->text().isEmpty()) ShowMissing();
            return;
        case viewlogs::PollKind::Started:
        case viewlogs::PollKind::Restarted:
            present_ = true;
            text_->clear();
            break;
        case viewlogs::PollKind::Appended:
        case viewlogs::PollKind::Unchanged:
            break;
    }
    if (!polled.text.empty()) Append(polled.text);
    status_->setText(QString::fromLocal8Bit(viewlogs::StatusText(follower_)));
    // A long file is shown a piece per turn of the event loop, so the window
    // stays responsive while it fills.
    if (polled.more) QTimer::singleShot(0, this, &LogView::Refresh);
}

void LogView::Append(const std::string& text) {
    QScrollBar* bar = text_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(text_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    if (atEnd) bar->setValue(bar->maximum());
}
