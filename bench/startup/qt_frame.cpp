// SPDX-License-Identifier: GPL-3.0-or-later
// The start-up benchmark's peer: the least a Qt program does to show the program's main frame, a
// maximized QMainWindow with the same title and menu texts (main_frame_menu.h, made from the
// frame's description at configure time) and a status bar. It writes the marks the runtime's
// script transcript writes: "opened: <title>" once the frame is shown, and "closed: <title>" once
// its event loop has handled the close request made as soon as the frame was open.
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
    QMenu* menu = nullptr;
    for (const FrameMenuLine& line : kFrameMenu) {
        if (line.menu)
            menu = frame.menuBar()->addMenu(Shown(line.text));
        else if (menu != nullptr)
            menu->addAction(Shown(line.text));
    }
    frame.statusBar();
    frame.showMaximized();
    std::fprintf(stderr, "opened: %s\n", kFrameTitle);
    // A person closes the frame as soon as it is there; the event loop handles it.
    QMetaObject::invokeMethod(
        &frame,
        [&frame] {
            frame.close();
            std::fprintf(stderr, "closed: %s\n", kFrameTitle);
        },
        Qt::QueuedConnection);
    return QApplication::exec();
}
