// SPDX-License-Identifier: GPL-3.0-or-later
// Playing page files onto a QPainter. Logical units map onto the device through the painter's
// window and viewport, so fonts, pens and positions all scale with the page; text is placed by
// the alignment it was recorded with (top, baseline or bottom; left, centre or right of x).
#include "platform/qt/page_painter.h"
#include "platform/qt/qt_printing.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cstring>
#include <map>

#include "tarvex/ansi_text.hpp"

namespace tarvex::platform::qt {

namespace {

QColor ColorOf(uint32_t colorref) {
    return QColor(int(colorref & 0xFF), int((colorref >> 8) & 0xFF), int((colorref >> 16) & 0xFF));
}

QString TextOf(std::string_view text) {
    QString out;
    out.reserve(qsizetype(text.size()));
    for (char b : text)
        out += QChar(char16_t(AnsiToUnicode(uint8_t(b))));
    return out;
}

QRectF RectOf(const report::Rect& r) {
    return QRectF(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// A device-independent bitmap as an image; the player has checked that all of it is there.
QImage ImageOf(std::span<const uint8_t> dib) {
    auto word = [&](size_t at) { return uint32_t(dib[at] | dib[at + 1] << 8); };
    auto dword = [&](size_t at) { return word(at) | word(at + 2) << 16; };
    uint32_t header = dword(0);
    int32_t width = int32_t(dword(4));
    int32_t height = int32_t(dword(8));
    uint32_t bits = word(14);
    uint32_t used = dword(32);
    uint32_t colours = used != 0 ? used : (bits <= 8 ? 1u << bits : 0);
    bool bottom_up = height > 0;
    int32_t rows = bottom_up ? height : -height;
    const uint8_t* palette = dib.data() + header;
    const uint8_t* pixels = palette + colours * 4;
    size_t stride = (size_t(width) * bits + 31) / 32 * 4;
    if (bits <= 8) {
        // Palette bitmaps stay palette images: smaller in a PDF, and quicker to unpack.
        QImage image(width, rows, QImage::Format_Indexed8);
        QList<QRgb> table;
        for (uint32_t i = 0; i < colours; i++)
            table.push_back(qRgb(palette[i * 4 + 2], palette[i * 4 + 1], palette[i * 4]));
        image.setColorTable(table);
        for (int32_t row = 0; row < rows; row++) {
            const uint8_t* line = pixels + stride * size_t(bottom_up ? rows - 1 - row : row);
            uchar* out = image.scanLine(row);
            for (int32_t x = 0; x < width; x++) {
                uint32_t index = bits == 8 ? line[x]
                                 : bits == 4 ? (line[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF
                                             : (line[x / 8] >> (7 - x % 8)) & 1;
                out[x] = uchar(index < colours ? index : 0);
            }
        }
        return image;
    }
    QImage image(width, rows, QImage::Format_RGB32);
    for (int32_t row = 0; row < rows; row++) {
        const uint8_t* line = pixels + stride * size_t(bottom_up ? rows - 1 - row : row);
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(row));
        for (int32_t x = 0; x < width; x++) {
            const uint8_t* p = line + size_t(x) * (bits / 8);
            out[x] = qRgb(p[2], p[1], p[0]);
        }
    }
    return image;
}

} // namespace

QString FaceFor(const std::string& face) {
    static const std::map<std::string, QString> kFaces = {
        {"arial", "Liberation Sans"},
        {"arial narrow", "Liberation Sans Narrow"},
        {"times new roman", "Liberation Serif"},
        {"courier new", "Liberation Mono"},
        {"ms sans serif", "Liberation Sans"},
    };
    std::string lower = face;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    auto found = kFaces.find(lower);
    return found != kFaces.end() ? found->second : QString::fromStdString(AnsiToUtf8(face));
}

struct PagePainter::Object {
    enum class Kind { kFont, kPen, kBrush } kind;
    QFont font;
    double font_scale = 1.0;
    QPen pen;
    QBrush brush;
};

const QImage& BitmapCache::Find(std::span<const uint8_t> dib) {
    for (const Entry& entry : entries_)
        if (entry.dib.size() == dib.size() && std::equal(dib.begin(), dib.end(), entry.dib.begin()))
            return entry.image;
    // A job holds a handful of different bitmaps at most; the oldest goes when more come.
    if (entries_.size() >= 8)
        entries_.erase(entries_.begin());
    entries_.push_back({std::vector<uint8_t>(dib.begin(), dib.end()), ImageOf(dib)});
    return entries_.back().image;
}

PagePainter::PagePainter(QPainter& painter, const QRectF& target, BitmapCache* bitmaps)
    : painter_(painter), target_(target), bitmaps_(bitmaps) {
    painter_.save();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    painter_.setRenderHint(QPainter::TextAntialiasing, true);
    painter_.setPen(QPen(Qt::black, 0));
    painter_.setBrush(Qt::white);
    font_ = QFont(FaceFor("Arial"));
    font_.setPixelSize(12);
}

PagePainter::~PagePainter() {
    for (; saved_ > 0; saved_--)
        painter_.restore();
    painter_.restore();
    for (Object* object : objects_)
        delete object;
}

void PagePainter::ApplyWindow() {
    if (window_.width() != 0 && window_.height() != 0) {
        painter_.setViewport(target_.toRect());
        painter_.setWindow(window_);
    }
}

void PagePainter::SetWindowOrigin(int16_t x, int16_t y) {
    window_.moveTo(x, y);
    ApplyWindow();
}

void PagePainter::SetWindowExtent(int16_t width, int16_t height) {
    window_.setSize(QSize(width, height));
    ApplyWindow();
}

void PagePainter::CreateFont(uint16_t slot, const report::Font& font) {
    auto* object = new Object{Object::Kind::kFont, {}, 1.0, {}, {}};
    QFont& f = object->font;
    f.setFamily(FaceFor(font.face));
    f.setWeight(QFont::Weight(std::clamp<int>(font.weight == 0 ? 400 : font.weight, 100, 900)));
    f.setItalic(font.italic);
    f.setUnderline(font.underline);
    f.setStrikeOut(font.strikeout);
    f.setKerning(false); // widths as the page was laid out, letter by letter
    int height = font.height < 0 ? -font.height : font.height;
    f.setPixelSize(std::max(height, 1));
    if (font.height > 0) {
        // A positive height is the cell (ascent and descent); the character is that much smaller.
        QFontMetricsF metrics(f);
        double cell = metrics.ascent() + metrics.descent();
        if (cell > 0)
            f.setPixelSize(std::max(1, int(height * height / cell + 0.5)));
    }
    if (slot >= objects_.size())
        objects_.resize(size_t(slot) + 1, nullptr);
    delete objects_[slot];
    objects_[slot] = object;
}

void PagePainter::CreatePen(uint16_t slot, const report::Pen& pen) {
    static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                           Qt::DashDotDotLine, Qt::NoPen};
    QPen p(ColorOf(pen.color));
    p.setStyle(pen.style < 6 ? kStyles[pen.style] : Qt::SolidLine);
    p.setWidth(pen.width); // 0: one device dot
    p.setCapStyle(Qt::FlatCap);
    auto* object = new Object{Object::Kind::kPen, {}, 1.0, p, {}};
    if (slot >= objects_.size())
        objects_.resize(size_t(slot) + 1, nullptr);
    delete objects_[slot];
    objects_[slot] = object;
}

void PagePainter::CreateBrush(uint16_t slot, const report::Brush& brush) {
    static const Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                              Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
    QBrush b;
    if (brush.style == 0)
        b = QBrush(ColorOf(brush.color));
    else if (brush.style == 2)
        b = QBrush(ColorOf(brush.color), brush.hatch < 6 ? kHatches[brush.hatch] : Qt::SolidPattern);
    else
        b = QBrush(Qt::NoBrush);
    auto* object = new Object{Object::Kind::kBrush, {}, 1.0, {}, b};
    if (slot >= objects_.size())
        objects_.resize(size_t(slot) + 1, nullptr);
    delete objects_[slot];
    objects_[slot] = object;
}

void PagePainter::SelectObject(uint16_t slot) {
    if (slot >= objects_.size() || objects_[slot] == nullptr)
        return;
    const Object& object = *objects_[slot];
    switch (object.kind) {
    case Object::Kind::kFont:
        font_ = object.font;
        break;
    case Object::Kind::kPen:
        painter_.setPen(object.pen);
        break;
    case Object::Kind::kBrush:
        painter_.setBrush(object.brush);
        break;
    }
}

void PagePainter::DeleteObject(uint16_t slot) {
    if (slot < objects_.size()) {
        delete objects_[slot];
        objects_[slot] = nullptr;
    }
}

void PagePainter::SetTextColor(uint32_t color) {
    text_color_ = ColorOf(color);
}

void PagePainter::SetBackgroundMode(bool) {
    // Text is drawn without a background box: no page of ours asks for one.
}

void PagePainter::SetTextAlign(uint16_t align) {
    align_ = align;
}

void PagePainter::Text(int16_t x, int16_t y, std::string_view text, const report::Rect* clip) {
    QString shown = TextOf(text);
    QFontMetricsF metrics(font_);
    double left = x;
    switch (align_ & report::kAlignCenter) {
    case report::kAlignRight:
        left -= metrics.horizontalAdvance(shown);
        break;
    case report::kAlignCenter:
        left -= metrics.horizontalAdvance(shown) / 2;
        break;
    default:
        break;
    }
    double baseline = y;
    if ((align_ & report::kAlignBaseline) == report::kAlignBaseline)
        baseline = y;
    else if ((align_ & report::kAlignBottom) != 0)
        baseline = y - metrics.descent();
    else
        baseline = y + metrics.ascent();
    painter_.save();
    if (clip != nullptr)
        painter_.setClipRect(RectOf(*clip), Qt::IntersectClip);
    painter_.setFont(font_);
    painter_.setPen(text_color_);
    painter_.drawText(QPointF(left, baseline), shown);
    painter_.restore();
}

void PagePainter::MoveTo(int16_t x, int16_t y) {
    position_ = QPointF(x, y);
}

void PagePainter::LineTo(int16_t x, int16_t y) {
    QPointF to(x, y);
    painter_.drawLine(position_, to);
    position_ = to;
}

void PagePainter::Rectangle(const report::Rect& rect) {
    painter_.drawRect(RectOf(rect));
}

void PagePainter::StretchBitmap(const report::Rect& destination, const report::Rect& source,
                                std::span<const uint8_t> dib) {
    QImage decoded;
    const QImage& image = bitmaps_ != nullptr ? bitmaps_->Find(dib) : (decoded = ImageOf(dib));
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(RectOf(destination), image, RectOf(source));
    painter_.restore();
}

void PagePainter::SaveState() {
    painter_.save();
    saved_++;
}

void PagePainter::RestoreState() {
    if (saved_ > 0) {
        painter_.restore();
        saved_--;
    }
}

void PagePainter::IntersectClip(const report::Rect& rect) {
    painter_.setClipRect(RectOf(rect), Qt::IntersectClip);
}

int32_t PageImage(std::span<const uint8_t> file, double dots_per_inch, QImage* image) {
    report::PageBox page;
    if (!report::ReadPageBox(file, &page) || page.units_per_inch == 0)
        return report::kRecordTooLarge;
    double width = (page.box.right - page.box.left) * dots_per_inch / page.units_per_inch;
    double height = (page.box.bottom - page.box.top) * dots_per_inch / page.units_per_inch;
    if (width < 1 || height < 1 || width > 20000 || height > 20000)
        return report::kRecordTooLarge;
    *image = QImage(int(width + 0.5), int(height + 0.5), QImage::Format_RGB32);
    image->fill(Qt::white);
    QPainter painter(image);
    PagePainter canvas(painter, QRectF(0, 0, image->width(), image->height()));
    canvas.SetWindowOrigin(page.box.left, page.box.top);
    canvas.SetWindowExtent(int16_t(page.box.right - page.box.left), int16_t(page.box.bottom - page.box.top));
    return report::Play(file, canvas);
}

int32_t PagesToPdf(const std::vector<std::vector<uint8_t>>& pages, const std::string& path) {
    std::unique_ptr<report::PrintJob> job = StartPdfJob(path);
    for (const std::vector<uint8_t>& page : pages)
        if (int32_t code = job->AddPage(page); code != 0)
            return code;
    return job->Finish(nullptr);
}

int32_t PagesToPrinter(const std::vector<std::vector<uint8_t>>& pages, const std::string& printer,
                       const std::string& job, int copies) {
    // Every page is checked before anything reaches the printer: a job is whole or not sent.
    for (const std::vector<uint8_t>& page : pages) {
        report::PageBox box;
        if (!report::ReadPageBox(page, &box) || box.units_per_inch == 0)
            return report::kRecordTooLarge;
    }
    std::unique_ptr<report::PrintJob> printing = StartPrinterJob(printer, job, copies);
    if (!printing)
        return 524;
    for (const std::vector<uint8_t>& page : pages) {
        if (int32_t code = printing->AddPage(page); code != 0) {
            printing->Finish(nullptr);
            return code;
        }
    }
    return printing->Finish(nullptr);
}

} // namespace tarvex::platform::qt
