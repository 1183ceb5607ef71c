// SPDX-License-Identifier: GPL-2.0-or-later
// Quorrin -- the program: the application object, the one window, the loop.
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "app/qt/QtMessageBoxes.h"
#include "app/qt/QuorrinApplication.h"
#include "app/qt/TMainForm.h"
#include "app/shell/CommandLine.h"
#include "app/shell/ProgramLife.h"
#include "app/shell/RecordedBus.h"
#include "app/shell/RealShellServices.h"
#include "log/wexerrorlog.h"
#include "platform/EndRequests.h"

int main(int argc, char** argv) {
    // Answered before anything starts: no window, no log, no driver check.
    if (AnswerInfoRequest(argc, argv, "quorrin", WindowUsage("quorrin", true))) return 0;
    // Before Qt starts a thread: SIGTERM, SIGHUP and SIGINT are then taken
    // in the loop below as a close, never in a signal handler.
    platform::CatchEndRequests();
    // Qt takes its own options (-platform and the like) out of argv first.
    QuorrinApplication application(argc, argv);
    // --bus FILE: the window sniffs a recorded bus through a private service.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bus") != 0) continue;
        std::string error = "--bus needs a file";
        if (i + 1 < argc && argv[i + 1][0] != '\0' && StartBusReplay(argv[i + 1], error)) break;
        std::fprintf(stderr, "quorrin: %s\n", error.c_str());
        return 1;
    }
    QtMessageBoxSink boxes;
    SetMessageBoxSink(&boxes);
    RealShellServices services;

    TMainForm* window = nullptr;
    std::unique_ptr<QSocketNotifier> endRequests;
    if (platform::EndRequestDescriptor() >= 0) {
        endRequests =
            std::make_unique<QSocketNotifier>(platform::EndRequestDescriptor(), QSocketNotifier::Read);
        QObject::connect(endRequests.get(), &QSocketNotifier::activated, [&] {
            platform::TakeEndRequest();
            // Before the window exists only a refused copy's box can be up:
            // it ends as its OK button would end it.
            if (window == nullptr) services.EndSecondCopy();
            if (window != nullptr && !ProgramClosing) window->close();
        });
    }

    TMainForm form(services);
    window = &form;
    // Qt ends the process through exit() when it loses its X connection.
    std::atexit(ShutDownAtExit);
    form.show();
    application.exec();
    // The loop can also end without a close (the session ending): the log
    // still gets its end, the viewer and the timer still stop.
    if (!ProgramClosing) ShutDown(form.Model());
    SetMessageBoxSink(nullptr);
    return 0;
}
