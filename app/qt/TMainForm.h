// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin app -- the Qt main window: a thin view over MainWindowModel that
// builds the components of the form and routes their events to it.
#pragma once

#include <QMainWindow>
#include <QRect>
#include <QSize>
#include <functional>
#include <string>

#include "app/shell/FormGeometry.h"
#include "app/shell/MainWindowModel.h"

class QAction;
class QDialog;
class QFrame;
class QLabel;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTimer;

class TMainForm : public QMainWindow, private MainWindowView {
    Q_OBJECT
public:
    // Builds the form, then runs the second-copy check and the start-up.
    explicit TMainForm(ShellServices& services);
    ~TMainForm() override;

    MainWindowModel& Model() { return model_; }

    // Tests answer the save dialog here instead of on the screen.
    static std::function<std::string(const std::string& suggested)> SaveFileHook;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClearMemo() override;
    void AppendMemo(const std::string& text) override;
    void SetCaption(const std::string& caption) override;
    void PostAfterShow() override;
    void ShowPlainBox(const std::string& caption, const std::string& text) override;
    void ShowFindingsCount(const std::string& text) override;
    void ShowFindingsList(const std::string& text) override;
    std::string AskSaveBusFile(const std::string& suggested) override;

    void BuildForm();
    QWidget* Widget(FormComponent component) const;
    void PlaceComponents();

    QWidget* client_ = nullptr;
    QPushButton* ButtonSniff = nullptr;
    QTimer* MasterTimer = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QMenu* MenuFile = nullptr;
    QAction* MenuFileSaveBus = nullptr;
    QMenu* MenuView = nullptr;
    QAction* MenuViewErrorLog = nullptr;
    QAction* MenuViewFindings = nullptr;
    QLabel* LabelFindings = nullptr;
    QDialog* FindingsForm = nullptr;  // made on first request, then reused
    QFrame* Panel4 = nullptr;
    QPlainTextEdit* MemoSnif = nullptr;

    MainWindowModel model_;
};
