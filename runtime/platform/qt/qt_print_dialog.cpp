// SPDX-License-Identifier: GPL-3.0-or-later
// The print dialog on Qt (qt_print_dialog.h): the settings into a QPrinter, Qt's dialog over it,
// and what the person chose back into the settings.
#include "platform/qt/qt_print_dialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <memory>

#include "platform/qt/qt_file_dialog.h"
#include "tarvex/ansi_text.hpp"

namespace tarvex::platform::qt {

namespace {

// The paper codes of the settings that Qt knows by name; any other paper is custom, by its size.
struct NamedPaper {
    uint16_t code;
    QPageSize::PageSizeId id;
};
constexpr NamedPaper kNamedPapers[] = {
    {report::kPaperLetter, QPageSize::Letter}, {report::kPaperLegal, QPageSize::Legal},
    {report::kPaperA4, QPageSize::A4},         {11, QPageSize::A5},
    {7, QPageSize::Executive},
};

QPageSize PageSizeOf(const report::PrinterSettings& settings) {
    for (const NamedPaper& paper : kNamedPapers)
        if (paper.code == settings.paper)
            return QPageSize(paper.id);
    if (settings.paper == report::kPaperCustom && settings.paper_width > 0 && settings.paper_length > 0)
        return QPageSize(QSizeF(settings.paper_width / 10.0, settings.paper_length / 10.0), QPageSize::Millimeter,
                         QString(), QPageSize::ExactMatch);
    return QPageSize(QPageSize::Letter);
}

// The chosen page size into the settings: its code, or custom in tenths of a millimetre.
void TakePageSize(const QPageSize& size, report::PrinterSettings& settings) {
    for (const NamedPaper& paper : kNamedPapers)
        if (paper.id == size.id()) {
            settings.paper = paper.code;
            settings.paper_width = settings.paper_length = 0;
            return;
        }
    QSizeF millimetres = size.size(QPageSize::Millimeter);
    settings.paper = report::kPaperCustom;
    settings.paper_width = uint16_t(std::clamp(std::lround(millimetres.width() * 10), 1L, 0xFFFFL));
    settings.paper_length = uint16_t(std::clamp(std::lround(millimetres.height() * 10), 1L, 0xFFFFL));
}

// The print-to-file choice's browse button asks through the runtime's file dialog, with the
// system's own title and filter and a PDF by default; the chosen file is the dialog's file.
void AskForTheFileOurWay(QPrintDialog& dialog) {
    auto* browse = dialog.findChild<QToolButton*>("fileBrowser");
    if (browse == nullptr)
        return;   // this dialog has no file choice of its own
    QObject::disconnect(browse, &QAbstractButton::clicked, nullptr, nullptr);
    QObject::connect(browse, &QAbstractButton::clicked, &dialog, [&dialog] {
        auto* printers = dialog.findChild<QComboBox*>("printers");
        auto* file = dialog.findChild<QLineEdit*>("filename");
        if (file == nullptr)
            return;
        windows::NativeFileDialogSpec spec{kPrintToFileTitle, kPrintToFileFilter, file->text().toStdString(), true,
                                           "pdf"};
        if (std::optional<std::string> chosen = AskForFile(spec, &dialog)) {
            file->setText(QString::fromStdString(*chosen));
            if (printers != nullptr && printers->count() > 0)
                printers->setCurrentIndex(printers->count() - 1);
        }
    });
}

} // namespace

bool ShowPrintDialog(std::string_view title, uint32_t, report::PrinterSettings& settings) {
    QPrinterInfo info = settings.device.empty() ? QPrinterInfo::defaultPrinter()
                                                : QPrinterInfo::printerInfo(QString::fromStdString(settings.device));
    auto made = info.isNull() ? std::make_unique<QPrinter>(QPrinter::HighResolution)
                              : std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    QPrinter& printer = *made;
    if (!settings.output_file.empty()) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(settings.output_file));
    }
    printer.setPageSize(PageSizeOf(settings));
    printer.setPageOrientation(settings.orientation == 2 ? QPageLayout::Landscape : QPageLayout::Portrait);
    printer.setCopyCount(std::max<int>(settings.copies, 1));

    QPrintDialog dialog(&printer);
    if (!title.empty())
        dialog.setWindowTitle(QString::fromStdString(AnsiToUtf8(title)));
    // With printers in the system Qt's dialog shows one of them even for settings that print to a
    // file: once it is shown, its file entry (the printer list's last) is chosen, with the file.
    if (!settings.output_file.empty()) {
        QString name = QString::fromStdString(settings.output_file);
        QTimer::singleShot(0, &dialog, [&dialog, name] {
            auto* printers = dialog.findChild<QComboBox*>("printers");
            auto* file = dialog.findChild<QLineEdit*>("filename");
            if (printers != nullptr && printers->count() > 0 && file != nullptr) {
                printers->setCurrentIndex(printers->count() - 1);
                file->setText(name);
            }
        });
    }
    AskForTheFileOurWay(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;

    // A printer without a name and with a file is the dialog's print-to-file choice.
    if (printer.outputFormat() == QPrinter::PdfFormat || printer.printerName().isEmpty()) {
        settings.output_file = printer.outputFileName().toStdString();
        settings.device.clear();
    } else {
        settings.output_file.clear();
        settings.device = printer.printerName().toStdString();
    }
    TakePageSize(printer.pageLayout().pageSize(), settings);
    settings.orientation = printer.pageLayout().orientation() == QPageLayout::Landscape ? 2 : 1;
    settings.copies = uint16_t(std::clamp(printer.copyCount(), 1, 999));
    return true;
}

bool RunOnWidgetThread(const std::function<void()>& work) {
    auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (application == nullptr)
        return false;
    if (QThread::currentThread() == application->thread())
        work();
    else
        QMetaObject::invokeMethod(application, work, Qt::BlockingQueuedConnection);
    return true;
}

} // namespace tarvex::platform::qt
