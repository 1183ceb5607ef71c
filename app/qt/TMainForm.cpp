// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Qt main window: components, geometry, colours and fonts
// of the form, and the routing of its events to the window's behaviour.
#include "app/qt/TMainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

std::function<std::string(const std::string&)> TMainForm::SaveFileHook;

namespace {

// The form's texts are 8-bit; Latin-1 maps every byte to a character.
QString Text(const std::string& text) {
    std::string lines;
    lines.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += text[i];
    }
    return QString::fromLatin1(lines.data(), static_cast<qsizetype>(lines.size()));
}

QFont FormFont(bool bold) {
    // fontconfig stands Liberation Sans (metric-compatible) in for Arial.
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setBold(bold);
    return font;
}

void Paint(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

}  // namespace

TMainForm::TMainForm(ShellServices& services) : model_(*this, services) {
    BuildForm();
    model_.Construct();
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildForm() {
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(InitialCaption));
    setFont(FormFont(false));

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("ClientArea"));
    // The form's colour is its client area's; the menu bar keeps the
    // system's colours, as a window menu does.
    Paint(client_, QPalette::Window, Qt::black);
    setCentralWidget(client_);

    ButtonSniff = new QPushButton(QString::fromLatin1(SniffButtonCaption), client_);
    ButtonSniff->setObjectName(QStringLiteral("ButtonSniff"));
    ButtonSniff->setFont(FormFont(true));
    ButtonSniff->setProperty("HelpContext", 2000);  // no help file is attached
    connect(ButtonSniff, &QPushButton::clicked, this, [this] { model_.ButtonSniffClick(); });

    MasterTimer = new QTimer(this);
    MasterTimer->setObjectName(QStringLiteral("MasterTimer"));
    MasterTimer->setInterval(MasterTimerIntervalMs);
    connect(MasterTimer, &QTimer::timeout, this, [this] { model_.MasterTimerTimer(); });
    MasterTimer->start();

    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MenuFile = MainMenu1->addMenu(QString::fromLatin1(FileMenuCaption));
    MenuFile->setObjectName(QStringLiteral("MenuFile"));
    MenuFileSaveBus = MenuFile->addAction(QString::fromLatin1(SaveBusMenuCaption));
    MenuFileSaveBus->setObjectName(QStringLiteral("MenuFileSaveBus"));
    connect(MenuFileSaveBus, &QAction::triggered, this, [this] { model_.MenuFileSaveBusClick(); });
    MenuView = MainMenu1->addMenu(QString::fromLatin1(ViewMenuCaption));
    MenuView->setObjectName(QStringLiteral("MenuView"));
    MenuViewErrorLog = MenuView->addAction(QString::fromLatin1(ErrorLogMenuCaption));
    MenuViewErrorLog->setObjectName(QStringLiteral("MenuViewErrorLog"));
    connect(MenuViewErrorLog, &QAction::triggered, this, [this] { model_.MenuViewErrorLogClick(); });
    MenuViewFindings = MenuView->addAction(QString::fromLatin1(FindingsMenuCaption));
    MenuViewFindings->setObjectName(QStringLiteral("MenuViewFindings"));
    connect(MenuViewFindings, &QAction::triggered, this, [this] { model_.MenuViewFindingsClick(); });

    LabelFindings = new QLabel(client_);
    LabelFindings->setObjectName(QStringLiteral("LabelFindings"));
    LabelFindings->setFont(FormFont(false));
    Paint(LabelFindings, QPalette::WindowText, Qt::white);
    LabelFindings->setAutoFillBackground(false);

    Panel4 = new QFrame(client_);
    Panel4->setObjectName(QStringLiteral("Panel4"));
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Paint(Panel4, QPalette::Window, QColor(128, 128, 128));

    MemoSnif = new QPlainTextEdit(Panel4);
    MemoSnif->setObjectName(QStringLiteral("MemoSnif"));
    MemoSnif->setFont(FormFont(false));
    QPalette memoColours = MemoSnif->palette();
    memoColours.setColor(QPalette::Base, Qt::black);
    memoColours.setColor(QPalette::Text, Qt::white);
    MemoSnif->setPalette(memoColours);
    MemoSnif->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MemoSnif->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    MemoSnif->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    MemoSnif->setPlainText(QString::fromLatin1(InitialMemoLine1) + '\n' + QString::fromLatin1(InitialMemoLine2) + '\n');

    setTabOrder(ButtonSniff, Panel4);
    ButtonSniff->setFocus();

    client_->installEventFilter(this);
    Panel4->installEventFilter(this);
    move(FormLeft, FormTop);
    resize(ClientDesignWidth, ClientDesignHeight + MainMenu1->sizeHint().height());
    // Lay the form out now, so that it has its designed geometry from
    // construction on rather than from its first showing.
    layout()->activate();
    PlaceComponents();
}

QWidget* TMainForm::Widget(FormComponent component) const {
    switch (component) {
        case FormComponent::ButtonSniff: return ButtonSniff;
        case FormComponent::LabelFindings: return LabelFindings;
        case FormComponent::Panel4: return Panel4;
        case FormComponent::MemoSnif: return MemoSnif;
    }
    return nullptr;
}

void TMainForm::PlaceComponents() {
    for (const AnchoredComponent& a : FormLayout) {
        QWidget* widget = Widget(a.Component);
        const QSize parent = widget->parentWidget()->size();
        const FormRect r = PlaceInParent(a, parent.width(), parent.height());
        widget->setGeometry(r.Left, r.Top, r.Width, r.Height);
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    // The client area and the panel are resized by their parents' layout;
    // their components follow.
    if (event->type() == QEvent::Resize && (watched == client_ || watched == Panel4)) PlaceComponents();
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == static_cast<QEvent::Type>(WM_AFTERSHOW)) {
        model_.AfterShow();
        return true;
    }
    return QMainWindow::event(event);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The window system's own show events (a restore from the task bar) are
    // not the form becoming visible.
    if (!event->spontaneous()) model_.FormShow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    model_.FormCloseQuery(canClose);
    if (canClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::ClearMemo() { MemoSnif->clear(); }

void TMainForm::AppendMemo(const std::string& text) {
    // As a memo adds a line: after the last complete line, ending with a
    // line break of its own; after an unfinished last line, on a new line.
    QTextCursor cursor(MemoSnif->document());
    cursor.movePosition(QTextCursor::End);
    const QString current = MemoSnif->toPlainText();
    if (!current.isEmpty() && !current.endsWith('\n')) {
        cursor.insertText(QStringLiteral("\n") + Text(text));
    } else {
        cursor.insertText(Text(text) + '\n');
    }
}

void TMainForm::SetCaption(const std::string& caption) { setWindowTitle(Text(caption)); }

void TMainForm::PostAfterShow() {
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(WM_AFTERSHOW)));
}

void TMainForm::ShowFindingsCount(const std::string& text) { LabelFindings->setText(Text(text)); }

void TMainForm::ShowFindingsList(const std::string& text) {
    if (!FindingsForm) {
        FindingsForm = new QDialog(this);
        FindingsForm->setObjectName(QStringLiteral("FindingsForm"));
        FindingsForm->setWindowTitle(QString::fromLatin1(FindingsWindowCaption));
        auto* list = new QPlainTextEdit(FindingsForm);
        list->setObjectName(QStringLiteral("FindingsText"));
        list->setReadOnly(true);
        list->setLineWrapMode(QPlainTextEdit::NoWrap);
        list->setFont(FormFont(false));
        auto* layout = new QVBoxLayout(FindingsForm);
        layout->addWidget(list);
        FindingsForm->resize(640, 300);
    }
    FindingsForm->findChild<QPlainTextEdit*>(QStringLiteral("FindingsText"))->setPlainText(Text(text));
    FindingsForm->show();
    FindingsForm->raise();
}

std::string TMainForm::AskSaveBusFile(const std::string& suggested) {
    if (SaveFileHook) return SaveFileHook(suggested);
    const QString file = QFileDialog::getSaveFileName(this, QString::fromLatin1(SaveBusMenuCaption),
                                                      QString::fromStdString(suggested),
                                                      QStringLiteral("Bus files (*.json);;All files (*)"));
    return file.toStdString();
}

void TMainForm::ShowPlainBox(const std::string& caption, const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, Text(caption), Text(text), QMessageBox::Ok);
    box.exec();
}
