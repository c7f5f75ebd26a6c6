// SPDX-License-Identifier: GPL-3.0-or-later
// The file dialog on Qt (qt_file_dialog.h).
#include "platform/qt/qt_file_dialog.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>

#include "platform/qt/qt_print_dialog.h"
#include "platform/qt/qt_ui.h"
#include "tarvex/ansi_text.hpp"

namespace tarvex::platform::qt {

namespace {

// "Claims|*.wmf;*.emf|All files (*.*)|*.*" as Qt's name filters: each description with its
// patterns in parentheses ("Claims (*.wmf *.emf)"), which the dialog hides, showing the
// description as the program wrote it. A description without patterns is left out.
QStringList NameFilters(const std::string& filter) {
    QStringList parts = QString::fromStdString(AnsiToUtf8(filter)).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            QString trimmed = pattern.trimmed();
            if (!trimmed.isEmpty())
                patterns << (trimmed == "*.*" ? QStringLiteral("*") : trimmed);
        }
        if (!patterns.isEmpty())
            filters << parts[i].trimmed() + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

} // namespace

std::optional<std::string> AskForFile(const windows::NativeFileDialogSpec& spec, QWidget* parent) {
    std::optional<std::string> chosen;
    RunOnWidgetThread([&] {
        QFileDialog dialog(parent != nullptr ? parent : QApplication::activeWindow());
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setOption(QFileDialog::HideNameFilterDetails);
        if (!spec.title.empty())
            dialog.setWindowTitle(QString::fromStdString(AnsiToUtf8(spec.title)));
        dialog.setAcceptMode(spec.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(spec.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        if (QStringList filters = NameFilters(spec.filter); !filters.isEmpty())
            dialog.setNameFilters(filters);
        if (!spec.default_suffix.empty())
            dialog.setDefaultSuffix(QString::fromStdString(spec.default_suffix));
        if (!spec.initial.empty()) {
            QString initial = QString::fromStdString(spec.initial);
            if (QFileInfo(initial).isDir())
                dialog.setDirectory(initial);
            else
                dialog.selectFile(initial);
        }
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            chosen = dialog.selectedFiles().first().toStdString();
    });
    return chosen;
}

// The Qt backend's file dialog, over the active window (the one whose program asks).
std::optional<std::string> QtUi::FileDialog(windows::NativeHandle window, const windows::NativeFileDialogSpec& spec) {
    if (!person_answers_)
        return HeadlessUi::FileDialog(window, spec);
    return AskForFile(spec);
}

} // namespace tarvex::platform::qt
