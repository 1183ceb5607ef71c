// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs -- shows the file its command line names and follows it.
#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <string>

#include "viewlogs/LogView.h"
#include "viewlogs/core/LogFollower.h"

int main(int argc, char** argv) {
    // Asked before Qt starts: --help and --version need no display.
    std::string path;
    for (int i = 1; i < argc; ++i) path += (i > 1 ? " " : "") + std::string(argv[i]);
    if (const std::string answer = viewlogs::InfoAnswer(path); !answer.empty()) {
        std::fputs(answer.c_str(), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    // The whole command line is the path: a path with blanks that arrives
    // split is joined again.
    QStringList args = app.arguments();
    args.removeFirst();
    LogView view(args.join(' '));
    view.show();
    return app.exec();
}
