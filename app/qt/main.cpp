// Quorrin -- the program: the application object, the one window, the loop.
#include "app/qt/QtMessageBoxes.h"
#include "app/qt/QuorrinApplication.h"
#include "app/qt/TMainForm.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RealShellServices.h"
#include "log/wexerrorlog.h"

int main(int argc, char** argv) {
    // Qt takes its own options (-platform and the like); the program reads none.
    QuorrinApplication application(argc, argv);
    QtMessageBoxSink boxes;
    SetMessageBoxSink(&boxes);
    RealShellServices services;
    TMainForm form(services);
    form.show();
    application.exec();
    // The loop can also end without a close (the session ending): the log
    // still gets its end, the viewer and the timer still stop.
    if (!ProgramClosing) ShutDown(form.Model());
    SetMessageBoxSink(nullptr);
    return 0;
}
