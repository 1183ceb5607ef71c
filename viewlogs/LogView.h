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
    void Reload();
    void Append(const QByteArray& bytes);
    void Watch();

    QString path_;
    QPlainTextEdit* text_;
    QLabel* status_;
    QFileSystemWatcher watcher_;
    QTimer poll_;
    bool present_ = false;
    qint64 offset_ = 0;     // bytes of the file shown so far
    QByteArray head_;       // its first bytes, to tell a replaced file
};
