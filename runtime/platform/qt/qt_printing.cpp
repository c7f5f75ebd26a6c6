// SPDX-License-Identifier: GPL-3.0-or-later
// Print jobs on Qt: each page file is played onto a QPainter as it arrives, so a job of any
// length holds one page at a time. Pages are printed on the whole sheet (the device's margins are
// not added): a page file's positions are measured from the sheet's corner, which is where a
// pre-printed form's boxes are measured from too.
#include "platform/qt/qt_printing.h"

#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>

#include <cstdlib>
#include <filesystem>

#include "platform/qt/page_painter.h"
#include "platform/qt/qt_print_dialog.h"
#include "tarvex/ansi_text.hpp"

namespace tarvex::platform::qt {

namespace {

// The size and orientation of a page as its box gives them.
QPageLayout LayoutOf(const report::PageBox& page) {
    QSizeF points((page.box.right - page.box.left) * 72.0 / page.units_per_inch,
                  (page.box.bottom - page.box.top) * 72.0 / page.units_per_inch);
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    if (points.width() > points.height()) {
        points.transpose();
        orientation = QPageLayout::Landscape;
    }
    return QPageLayout(QPageSize(points, QPageSize::Point, QString(), QPageSize::FuzzyMatch), orientation,
                       QMarginsF(0, 0, 0, 0));
}

// Plays one page onto a painter whose device shows the sheet in `sheet` (device units).
int32_t PlayOnto(QPainter& painter, const QRectF& sheet, std::span<const uint8_t> file, const report::PageBox& page,
                 BitmapCache& bitmaps) {
    PagePainter canvas(painter, sheet, &bitmaps);
    canvas.SetWindowOrigin(page.box.left, page.box.top);
    canvas.SetWindowExtent(int16_t(page.box.right - page.box.left), int16_t(page.box.bottom - page.box.top));
    return report::Play(file, canvas);
}

bool ReadBox(std::span<const uint8_t> file, report::PageBox* page) {
    return report::ReadPageBox(file, page) && page->units_per_inch != 0 && page->box.right > page->box.left &&
           page->box.bottom > page->box.top;
}

// Pages played one by one onto a painter on a paged device: what a PDF and a printer share.
class PaintingJob : public report::PrintJob {
public:
    int32_t AddPage(std::span<const uint8_t> file) override {
        if (failed_ != 0)
            return failed_;
        report::PageBox page;
        if (!ReadBox(file, &page))
            return failed_ = report::kRecordTooLarge;
        Device().setPageLayout(LayoutOf(page));
        if (!painter_.isActive()) {
            if (!painter_.begin(&Device()))
                return failed_ = device_error_;
        } else if (!Device().newPage()) {
            return failed_ = device_error_;
        }
        return failed_ = PlayOnto(painter_, Sheet(), file, page, bitmaps_);
    }

protected:
    PaintingJob(std::unique_ptr<QPagedPaintDevice> device, int32_t device_error)
        : device_(std::move(device)), device_error_(device_error) {}
    QPagedPaintDevice& Device() { return *device_; }
    // The whole sheet in device units.
    virtual QRectF Sheet() = 0;
    // Ends the painting: false when the device failed.
    bool EndPainting() { return !painter_.isActive() || painter_.end(); }

    // The device is declared before the painter, so a painter still active when a job is dropped
    // ends on a device that is still there.
    std::unique_ptr<QPagedPaintDevice> device_;
    QPainter painter_;
    BitmapCache bitmaps_;
    int32_t failed_ = 0;
    int32_t device_error_;
};

class PdfJob final : public PaintingJob {
public:
    explicit PdfJob(const std::string& path)
        : PaintingJob(std::make_unique<QPdfWriter>(QString::fromStdString(path)), 5), path_(path) {
        Writer().setResolution(1200);
        Writer().setCreator("Lumarex");
    }
    int32_t Finish(std::string* output) override {
        if (!EndPainting() && failed_ == 0)
            failed_ = 5;
        if (output != nullptr)
            *output = failed_ == 0 ? path_ : std::string();
        return failed_;
    }
    void Cancel() override {
        EndPainting();
        failed_ = failed_ != 0 ? failed_ : -1;
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }

private:
    QPdfWriter& Writer() { return static_cast<QPdfWriter&>(*device_); }
    QRectF Sheet() override { return QRectF(0, 0, Writer().width(), Writer().height()); }

    std::string path_;
};

class PrinterJob final : public PaintingJob {
public:
    PrinterJob(const QPrinterInfo& info, const std::string& job, int copies)
        : PaintingJob(std::make_unique<QPrinter>(info, QPrinter::HighResolution), 524) {
        Printer().setOutputFormat(QPrinter::NativeFormat);
        Printer().setDocName(QString::fromStdString(AnsiToUtf8(job)));
        Printer().setCopyCount(std::max(copies, 1));
        Printer().setFullPage(true);
    }
    // A job that was never finished is not sent.
    ~PrinterJob() override {
        if (painter_.isActive()) {
            Printer().abort();
            EndPainting();
        }
    }
    int32_t Finish(std::string* output) override {
        if (failed_ != 0)
            Printer().abort();
        if (!EndPainting() && failed_ == 0)
            failed_ = 524;
        if (output != nullptr)
            output->clear();
        return failed_;
    }
    void Cancel() override {
        Printer().abort();
        EndPainting();
        failed_ = failed_ != 0 ? failed_ : -1;
    }

private:
    QPrinter& Printer() { return static_cast<QPrinter&>(*device_); }
    QRectF Sheet() override {
        QRectF sheet = Printer().pageLayout().fullRectPixels(Printer().resolution());
        return QRectF(0, 0, sheet.width(), sheet.height());
    }
};

void EnsureApplication() {
    if (QGuiApplication::instance() != nullptr)
        return;
    if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "tarvex";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* application = new QGuiApplication(argc, argv);
    (void)application;
}

QPrinterInfo PrinterFor(const std::string& name) {
    return name.empty() ? QPrinterInfo::defaultPrinter() : QPrinterInfo::printerInfo(QString::fromStdString(name));
}

class QtPrinting final : public report::PrintService {
public:
    explicit QtPrinting(bool person_chooses) : person_chooses_(person_chooses) {}

    bool Open(const report::PrinterSettings& settings, report::PrinterDevice* device) override {
        EnsureApplication();
        int32_t width = 0, length = 0;
        report::PaperSize(settings, &width, &length);
        if (width <= 0 || length <= 0)
            return false;
        int dpi = 600;
        if (settings.output_file.empty()) {
            QPrinterInfo info = PrinterFor(settings.device);
            if (info.isNull() && !settings.device.empty())
                return false;   // a printer named but not there
            if (!info.isNull()) {
                QPrinter printer(info, QPrinter::HighResolution);
                dpi = std::max(printer.resolution(), 72);
                device->name = info.printerName().toStdString();
            } else {
                device->name = "PDF";
            }
        } else {
            device->name = settings.output_file;
        }
        // Page coordinates are 16-bit: the resolution is lowered until the sheet fits them.
        while (int64_t(std::max(width, length)) * dpi / 254 > 32000 && dpi > 72)
            dpi /= 2;
        device->dpi_x = device->dpi_y = dpi;
        device->width = int32_t((int64_t(width) * dpi + 127) / 254);
        device->height = int32_t((int64_t(length) * dpi + 127) / 254);
        device->offset_x = device->offset_y = 0;
        return true;
    }

    std::unique_ptr<report::PrintJob> StartJob(const report::PrinterSettings& settings, std::string_view job,
                                               int32_t* error) override {
        EnsureApplication();
        if (settings.output_file.empty()) {
            QPrinterInfo info = PrinterFor(settings.device);
            if (!info.isNull())
                return std::make_unique<PrinterJob>(info, std::string(job), settings.copies);
            if (!settings.device.empty()) {
                *error = 524;
                return nullptr;
            }
        }
        std::string path = settings.output_file.empty() ? DefaultPdfPath(std::string(job)) : settings.output_file;
        if (path.empty()) {
            *error = 524;
            return nullptr;
        }
        return std::make_unique<PdfJob>(path);
    }

    bool Dialog(std::string_view title, uint32_t flags, report::PrinterSettings& settings) override {
        bool chosen = false;
        if (person_chooses_ && RunOnWidgetThread([&] { chosen = ShowPrintDialog(title, flags, settings); }))
            return chosen;
        // No widgets to show it with (or a script answers): the headless service's question.
        return report::MakeHeadlessPrinting()->Dialog(title, flags, settings);
    }

private:
    bool person_chooses_;
};

} // namespace

std::unique_ptr<report::PrintJob> StartPdfJob(const std::string& path) {
    EnsureApplication();
    return std::make_unique<PdfJob>(path);
}

std::unique_ptr<report::PrintJob> StartPrinterJob(const std::string& printer, const std::string& job, int copies) {
    EnsureApplication();
    QPrinterInfo info = PrinterFor(printer);
    if (info.isNull())
        return nullptr;
    return std::make_unique<PrinterJob>(info, job, copies);
}

std::unique_ptr<report::PrintService> MakeQtPrinting(bool person_chooses) {
    return std::make_unique<QtPrinting>(person_chooses);
}

std::string DefaultPdfPath(const std::string& job) {
    std::filesystem::path folder;
    if (const char* documents = std::getenv("XDG_DOCUMENTS_DIR"); documents != nullptr && *documents != '\0')
        folder = documents;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        folder = std::filesystem::path(home) / "Documents";
    else
        folder = std::filesystem::temp_directory_path();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::string stem;
    for (char c : job)
        stem += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    if (stem.empty())
        stem = "Report";
    for (int n = 1; n < 100000; n++) {
        std::filesystem::path path = folder / (stem + "-" + std::to_string(n) + ".pdf");
        if (!std::filesystem::exists(path, error))
            return path.string();
    }
    return {};
}

} // namespace tarvex::platform::qt
