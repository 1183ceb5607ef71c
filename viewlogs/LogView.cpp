// ViewLogs -- the following text view.
#include "viewlogs/LogView.h"

#include <algorithm>

#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

constexpr int HeadSize = 256;
constexpr int PollMs = 500;

}  // namespace

LogView::LogView(const QString& path, QWidget* parent)
    : QWidget(parent), path_(path), text_(new QPlainTextEdit(this)), status_(new QLabel(this)) {
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
    offset_ = 0;
    head_.clear();
    text_->clear();
    status_->setText("The file " + path_ + " does not exist. It is shown as soon as it appears.");
}

void LogView::Refresh() {
    Watch();
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        if (present_ || status_->text().isEmpty()) ShowMissing();
        return;
    }
    const QByteArray head = file.read(HeadSize);
    const qint64 size = file.size();
    // Shorter than what is shown, or other first bytes: a new file.
    const bool replaced = !present_ || size < offset_ || !head.startsWith(head_);
    if (replaced) {
        present_ = true;
        offset_ = 0;
        head_.clear();
        text_->clear();
    }
    if (size > offset_ && file.seek(offset_)) {
        const QByteArray more = file.readAll();
        offset_ += more.size();
        if (head_.size() < HeadSize) head_ = head.left(static_cast<int>(std::min<qint64>(offset_, HeadSize)));
        Append(more);
    }
    status_->setText(path_ + "  (" + QString::number(offset_) + " bytes)");
}

void LogView::Append(const QByteArray& bytes) {
    QScrollBar* bar = text_->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QString chunk = QString::fromLocal8Bit(bytes);
    chunk.remove('\r');
    QTextCursor cursor(text_->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(chunk);
    if (atEnd) bar->setValue(bar->maximum());
}
