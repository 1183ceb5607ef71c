// SPDX-License-Identifier: GPL-2.0-or-later
// ViewLogs -- shows the file its command line names and follows it.
#include <QApplication>
#include <QStringList>

#include "viewlogs/LogView.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // The whole command line is the path: a path with blanks that arrives
    // split is joined again.
    QStringList args = app.arguments();
    args.removeFirst();
    LogView view(args.join(' '));
    view.show();
    return app.exec();
}
