// SPDX-License-Identifier: GPL-3.0-or-later
// Report pages on Qt: a canvas that plays a page file onto a QPainter, and the two places pages go
// from there, an image (what the preview shows) and a PDF. A printer is a QPainter too, so the
// same playing serves preview, file and paper: what is previewed is what is printed.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRectF>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "report/metafile.h"

namespace tarvex::platform::qt {

// The face a page names, as the machine has it: Arial is Liberation Sans, Arial Narrow Liberation
// Sans Narrow (the same widths), Times New Roman Liberation Serif, Courier New Liberation Mono.
QString FaceFor(const std::string& face);

// Bitmaps decoded once for a whole job: the same bitmap on every page (a form image) becomes the
// same QImage, which a PDF then holds once and a printer is sent once.
class BitmapCache {
  public:
    const QImage& Find(std::span<const uint8_t> dib);

  private:
    struct Entry {
        std::vector<uint8_t> dib;
        QImage image;
    };
    std::vector<Entry> entries_;
};

// Plays page records onto a painter whose device shows the page in `target` (device units):
// the page's window (its logical units) is mapped onto that rectangle.
class PagePainter : public report::Canvas {
  public:
    // `bitmaps` (optional) keeps decoded bitmaps beyond this page.
    PagePainter(QPainter& painter, const QRectF& target, BitmapCache* bitmaps = nullptr);
    ~PagePainter() override;

    void SetWindowOrigin(int16_t x, int16_t y) override;
    void SetWindowExtent(int16_t width, int16_t height) override;
    void CreateFont(uint16_t slot, const report::Font& font) override;
    void CreatePen(uint16_t slot, const report::Pen& pen) override;
    void CreateBrush(uint16_t slot, const report::Brush& brush) override;
    void SelectObject(uint16_t slot) override;
    void DeleteObject(uint16_t slot) override;
    void SetTextColor(uint32_t color) override;
    void SetBackgroundMode(bool transparent) override;
    void SetTextAlign(uint16_t align) override;
    void Text(int16_t x, int16_t y, std::string_view text, const report::Rect* clip) override;
    void MoveTo(int16_t x, int16_t y) override;
    void LineTo(int16_t x, int16_t y) override;
    void Rectangle(const report::Rect& rect) override;
    void StretchBitmap(const report::Rect& destination, const report::Rect& source,
                       std::span<const uint8_t> dib) override;
    void SaveState() override;
    void RestoreState() override;
    void IntersectClip(const report::Rect& rect) override;

  private:
    struct Object;
    void ApplyWindow();

    QPainter& painter_;
    QRectF target_;
    QRect window_;
    BitmapCache* bitmaps_ = nullptr;
    std::vector<Object*> objects_;
    QFont font_;
    double font_scale_ = 1.0; // a cell height asks for a smaller character height
    QColor text_color_ = Qt::black;
    uint16_t align_ = 0;
    QPointF position_;
    int saved_ = 0;
};

// Plays a page file into an image of the page at `dots_per_inch`, white underneath. 0, or 523 when
// the file cannot be played (the image then holds what came before the bad record).
int32_t PageImage(std::span<const uint8_t> file, double dots_per_inch, QImage* image);

// Writes page files into one PDF at `path`, one PDF page per file, each page the size its file's
// box gives. 0, 523 for a file that cannot be played, or 5 when the PDF cannot be written.
int32_t PagesToPdf(const std::vector<std::vector<uint8_t>>& pages, const std::string& path);

// Prints page files on the printer named `printer` (a CUPS queue; empty: the system's default),
// one sheet per file in order, as one job named `job`. 0, 523 for a file that cannot be played
// (nothing is sent then), or 524 when the printer cannot be opened.
int32_t PagesToPrinter(const std::vector<std::vector<uint8_t>>& pages, const std::string& printer,
                       const std::string& job, int copies = 1);

} // namespace tarvex::platform::qt
