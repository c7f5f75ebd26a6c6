// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up benchmark's peer: the least a Qt program does to show the program's main frame, a
// maximized QMainWindow with the same title and menu texts (main_frame_menu.h, made from the
// frame's description at configure time) and a status bar. Once the frame is shown it writes
// "opened: <title>" to standard error; as soon as its event loop runs it chooses the menu item its
// argument names, as a person would, writes "answered: <item>" when the loop delivers the choice,
// and closes the frame.
#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

#include <cstdio>

#include "main_frame_menu.h"

namespace {

// A menu text as the frame shows it: without the blanks and '|' at its end.
QString Shown(const char* text) {
    QString shown = QString::fromUtf8(text);
    while (shown.endsWith('|') || shown.endsWith(' '))
        shown.chop(1);
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QMainWindow frame;
    frame.setWindowTitle(QString::fromUtf8(kFrameTitle));
    QString chosen = argc > 1 ? QString::fromUtf8(argv[1]) : QString();
    QAction* choice = nullptr;
    QMenu* menu = nullptr;
    for (const FrameMenuLine& line : kFrameMenu) {
        if (line.menu) {
            menu = frame.menuBar()->addMenu(Shown(line.text));
        } else if (menu != nullptr) {
            QAction* item = menu->addAction(Shown(line.text));
            if (Shown(line.text) == chosen)
                choice = item;
        }
    }
    frame.statusBar();
    frame.showMaximized();
    std::fprintf(stderr, "opened: %s\n", kFrameTitle);
    if (choice == nullptr) {
        std::fprintf(stderr, "no menu item \"%s\"\n", chosen.toUtf8().constData());
        return 2;
    }
    QObject::connect(choice, &QAction::triggered, &frame, [&frame, chosen] {
        std::fprintf(stderr, "answered: %s\n", chosen.toUtf8().constData());
        frame.close();
    });
    QMetaObject::invokeMethod(choice, &QAction::trigger, Qt::QueuedConnection);
    return QApplication::exec();
}
