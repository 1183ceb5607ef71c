// SPDX-License-Identifier: GPL-2.0-or-later
// Tests of the log viewer on the offscreen platform: what a user would see
// as the file appears, grows, is recreated and vanishes.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "viewlogs/LogView.h"

namespace {

void Write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode) {
    QFile f(path);
    QVERIFY(f.open(mode));
    QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class LogViewTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsTheContentsWithoutCarriageReturns() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Quorrin.Log");
        Write(path, "000000  first line\r\n000001  second\r\n", QIODevice::WriteOnly);
        LogView view(path);
        view.show();
        QCOMPARE(view.Text(), QString("000000  first line\n000001  second\n"));
        QVERIFY(view.FileShown());
        QVERIFY(view.Status().contains(path));
    }

    void FollowsAppendedTextWithoutBeingAsked() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Quorrin.Log");
        Write(path, "one\r\n", QIODevice::WriteOnly);
        LogView view(path);
        view.show();
        Write(path, "two\r\n", QIODevice::Append);
        QTRY_COMPARE_WITH_TIMEOUT(view.Text(), QString("one\ntwo\n"), 5000);
        // A record written in two pieces shows whole once both are there.
        Write(path, "thr", QIODevice::Append);
        view.Refresh();
        Write(path, "ee\r\n", QIODevice::Append);
        QTRY_COMPARE_WITH_TIMEOUT(view.Text(), QString("one\ntwo\nthree\n"), 5000);
    }

    void SaysPlainlyWhenTheFileIsMissingAndPicksItUp() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Quorrin.Log");
        LogView view(path);
        view.show();
        QVERIFY(!view.FileShown());
        QVERIFY(view.Status().contains("does not exist"));
        QVERIFY(view.Status().contains(path));
        QCOMPARE(view.Text(), QString());
        Write(path, "appeared\r\n", QIODevice::WriteOnly);
        QTRY_COMPARE_WITH_TIMEOUT(view.Text(), QString("appeared\n"), 5000);
        QVERIFY(view.FileShown());
        QFile::remove(path);
        QTRY_VERIFY_WITH_TIMEOUT(view.Status().contains("does not exist"), 5000);
        QCOMPARE(view.Text(), QString());
    }

    void StartsOverWhenTheLogIsRecreated() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Quorrin.Log");
        Write(path, "old run, a long first record\r\nmore of the old run\r\n", QIODevice::WriteOnly);
        LogView view(path);
        view.show();
        // Truncated and rewritten shorter, as each program start does.
        Write(path, "new run\r\n", QIODevice::WriteOnly | QIODevice::Truncate);
        QTRY_COMPARE_WITH_TIMEOUT(view.Text(), QString("new run\n"), 5000);
        // Replaced by a new file that is longer than what was shown.
        const QString other = dir.filePath("next");
        Write(other, "another run entirely, longer than the one before it\r\n", QIODevice::WriteOnly);
        QFile::remove(path);
        QVERIFY(QFile::rename(other, path));
        QTRY_COMPARE_WITH_TIMEOUT(view.Text(), QString("another run entirely, longer than the one before it\n"), 5000);
    }

    void TextIsReadOnly() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Quorrin.Log");
        Write(path, "fixed\r\n", QIODevice::WriteOnly);
        LogView view(path);
        view.show();
        auto* edit = view.findChild<QPlainTextEdit*>();
        QVERIFY(edit);
        edit->setFocus();
        QTest::keyClicks(edit, "typed");
        QCOMPARE(view.Text(), QString("fixed\n"));
    }
};

QTEST_MAIN(LogViewTest)
#include "LogView_test.moc"
